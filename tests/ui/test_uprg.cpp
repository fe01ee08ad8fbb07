// The extraction window and its job against a scripted ripping library and encoder: names,
// the status line, the overwrite question, cancelling, the bar, failures and the output folder.
#include "ui/uprg.h"

#include "app/globals.h"
#include "cd/CDRIP.h"
#include "controls/GradProgress.h"
#include "mp3/MP3Info.h"
#include "support/FakeCDRip.h"
#include "support/FakeLameEnc.h"
#include "support/FileSizeLimit.h"
#include "support/gui/MessageBoxAnswerer.h"
#include "support/gui/ShellRecorder.h"
#include "ui/ButtonDialog.h"
#include "ui/uMain.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

constexpr int kTrackSectors = 750;
constexpr int kChunkBytes = 4 * 2352;

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

// A ramp that differs from byte to byte, so a file holding it proves the bytes arrived.
QByteArray Pcm(int bytes, int seed)
{
    QByteArray pcm(bytes, Qt::Uninitialized);
    for (int i = 0; i < bytes; ++i)
        pcm[i] = char((i * 7 + seed) & 0xFF);
    return pcm;
}

class JobTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        SetDefaultSettings();
        QFile::remove(SettingsFileName());
        QFile::remove(AlbumInfoFileName());
        // Two levels that do not exist yet: the job makes them.
        Settings.OutDir =
            QStringLiteral(" ") + Dir.filePath(QStringLiteral("Rips/Album")) + QStringLiteral(" ");
        Settings.OpenWhenDone = true;

        std::vector<int32_t> starts;
        for (int i = 0; i < 5; ++i)
            starts.push_back(i * kTrackSectors);
        Fake.Drives.push_back(TFakeCDRip::MakeDrive("FAKE DRIVE", starts, 5 * kTrackSectors));
        Fake.ScriptPcm(Pcm(3 * kChunkBytes, 1), kChunkBytes);
        Enc.ChunkOutput = {QByteArray(400, 'M'), QByteArray(400, 'P')};
        Enc.FlushOutput = QByteArray(100, '3');

        Main = std::make_unique<TfrmMain>(&Fake, &Enc);
        Main->Timer1->stop();
        ASSERT_EQ(Main->ListView1->RowCount(), 5);

        SavedReport = ApplicationOnException;
        ApplicationOnException = [this](QObject*, const std::exception& e) {
            Reports.append(ExceptionMessage(e));
            WindowShownAtReport.append(Window != nullptr && Window->isVisible());
        };
    }

    void TearDown() override { ApplicationOnException = SavedReport; }

    QString Out(const QString& name) const
    {
        return Dir.filePath(QStringLiteral("Rips/Album/") + name);
    }

    TTrackRow* Row(int i) const { return Main->ListView1->Row(i); }

    void Tick(std::initializer_list<int> rows)
    {
        for (int i = 0; i < Main->ListView1->RowCount(); ++i)
            Row(i)->SetChecked(false);
        for (int i : rows)
            Row(i)->SetChecked(true);
    }

    // Runs one job the way the main window does and returns its modal result. The first tick
    // comes sooner than a user's would, to keep the suite quick.
    int Run(bool toWav)
    {
        Tfrmprg frm(Main.get());
        Window = &frm;
        frm.ToWAV = toWav;
        frm.Timer1->setInterval(20);
        if (OnWindow)
            OnWindow(frm);
        const int result = frm.exec();
        Window = nullptr;
        return result;
    }

    // The track (from 0) whose range the fake library is reading.
    int TrackBeingRead() const { return Fake.OpenStart / kTrackSectors; }

    QTemporaryDir Dir;
    TFakeCDRip Fake;
    TFakeLameEnc Enc;
    TMessageBoxAnswerer Boxes;
    TShellRecorder Shell;
    std::unique_ptr<TfrmMain> Main;
    Tfrmprg* Window = nullptr;
    std::function<void(Tfrmprg&)> OnWindow;
    QStringList Reports;
    QList<bool> WindowShownAtReport;
    TExceptionEvent SavedReport;
};

TEST(OutputNames, FolderAndTitleAreTrimmedAndJoinedOnce)
{
    EXPECT_EQ(OutputFileName(QStringLiteral("/home/u/Music"), QStringLiteral(" Song ")),
              QStringLiteral("/home/u/Music/Song.wav"));
    EXPECT_EQ(OutputFileName(QStringLiteral("  /home/u/Music/ "), QStringLiteral("Song")),
              QStringLiteral("/home/u/Music/Song.wav"));
    EXPECT_EQ(OutputFileName(QString(), QStringLiteral("Song")), QStringLiteral("/Song.wav"));
    // Nothing inside the title is replaced.
    EXPECT_EQ(OutputFileName(QStringLiteral("/m"), QStringLiteral("A  B: c?")),
              QStringLiteral("/m/A  B: c?.wav"));
}

TEST(OutputNames, OnlyPlainNamesAreTitles)
{
    for (const char* ok : {"Song", "AC\\DC", "Track 01: Intro?", "...And Justice", ".hidden"})
        EXPECT_TRUE(IsTitleFileName(QString::fromUtf8(ok))) << ok;
    for (const char* bad : {"", ".", "..", "../../escape", "a/b", "/etc/passwd", "tab\there",
                            "line\nbreak", "del\x7f"})
        EXPECT_FALSE(IsTitleFileName(QString::fromUtf8(bad))) << bad;
    EXPECT_FALSE(IsTitleFileName(QStringLiteral("nul") + QChar(0) + QStringLiteral("x")));
}

TEST_F(JobTest, WindowIsLaidOutAsDesigned)
{
    Tfrmprg frm(Main.get());
    EXPECT_EQ(frm.size(), QSize(373, 145));
    EXPECT_EQ(frm.windowTitle(), QStringLiteral("Extracting..."));
    EXPECT_EQ(frm.font().family(), QStringLiteral("Arial"));
    EXPECT_EQ(frm.font().pixelSize(), 12);
    EXPECT_EQ(frm.GroupBox1->geometry(), QRect(8, 8, 353, 97));
    EXPECT_EQ(frm.lblStatus->pos(), QPoint(10, 23));
    EXPECT_EQ(frm.lblPath->geometry(), QRect(10, 52, 335, 45));
    EXPECT_TRUE(frm.lblPath->wordWrap());
    EXPECT_EQ(frm.prgTotalProgress->geometry(), QRect(8, 118, 270, 16));
    EXPECT_EQ(frm.prgTotalProgress->StartColor(), clMenu);
    EXPECT_EQ(frm.prgTotalProgress->EndColor(), clBlue);
    EXPECT_EQ(frm.prgTotalProgress->BackColor(), clMenu);
    EXPECT_EQ(frm.prgTotalProgress->font().pixelSize(), 11);
    EXPECT_TRUE(frm.prgTotalProgress->ShowDec);
    EXPECT_EQ(frm.btnCancel->geometry(), QRect(286, 114, 75, 23));
    EXPECT_EQ(frm.btnCancel->text(), QStringLiteral("Cancel"));
    EXPECT_EQ(frm.Timer1->interval(), 1000);
    EXPECT_TRUE(frm.Timer1->isActive());

    frm.ToWAV = false;
    frm.Timer1->stop(); // only the showing is looked at here
    frm.show();
    EXPECT_EQ(frm.windowTitle(), QStringLiteral("Extract To MP3 files"));
    EXPECT_EQ(frm.lblStatus->text(), QStringLiteral("Initializing..."));
    EXPECT_TRUE(frm.Starting);
    EXPECT_FALSE(frm.prgTotalProgress->ShowDec);
    frm.hide();
}

TEST_F(JobTest, TickedRowsAreExtractedInOrderIntoNewFolders)
{
    Tick({1, 2, 4});
    Row(2)->SetCaption(QStringLiteral("  Second Song "));
    QStringList status, path;
    Fake.OnRipChunk = [&](int call) {
        if (call == 0) {
            status << Window->lblStatus->text();
            path << Window->lblPath->text();
        }
    };

    EXPECT_EQ(Run(true), mrOk);

    EXPECT_EQ(status, QStringList({QStringLiteral("Extract Track02 (1 of 3)..."),
                                   QStringLiteral("Extract   Second Song  (2 of 3)..."),
                                   QStringLiteral("Extract Track05 (3 of 3)...")}));
    EXPECT_EQ(path.at(1), QStringLiteral("To ") + Out(QStringLiteral("Second Song.wav")));
    const QByteArray pcm = Pcm(3 * kChunkBytes, 1);
    for (const char* name : {"Track02.wav", "Second Song.wav", "Track05.wav"}) {
        const QByteArray wav = ReadFile(Out(QString::fromUtf8(name)));
        ASSERT_EQ(wav.size(), 44 + pcm.size()) << name;
        EXPECT_TRUE(wav.startsWith("RIFF"));
        EXPECT_TRUE(wav.mid(44) == pcm) << name;
    }
    EXPECT_FALSE(QFile::exists(Out(QStringLiteral("Track01.wav"))));
    const QStringList expected = {QStringLiteral("--"), QStringLiteral("OK"), QStringLiteral("OK"),
                                  QStringLiteral("--"), QStringLiteral("OK")};
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(Row(i)->SubItem(TTrackRow::siStatus), expected.at(i)) << i;
    EXPECT_TRUE(Boxes.Shown().isEmpty());
    EXPECT_TRUE(Reports.isEmpty());
    ASSERT_EQ(Shell.Opened().size(), 1);
    EXPECT_EQ(Shell.Opened().first(),
              QUrl::fromLocalFile(Dir.filePath(QStringLiteral("Rips/Album"))));
    EXPECT_EQ(Main->RipProgress(), 0);
    EXPECT_FALSE(Fake.RangeOpen);
}

TEST_F(JobTest, AnsweringNoEndsTheJobAndLeavesTheRestAlone)
{
    Tick({0, 1, 2});
    ASSERT_TRUE(QDir().mkpath(Out(QString())));
    WriteFile(Out(QStringLiteral("Track02.wav")), "old two");
    WriteFile(Out(QStringLiteral("Track03.wav")), "old three");
    Boxes.SetNextAnswer(mrNo);

    EXPECT_EQ(Run(true), mrOk);

    ASSERT_EQ(Boxes.Shown().size(), 1);
    const TMessageBoxRequest& box = Boxes.Shown().first();
    EXPECT_EQ(box.Text, Out(QStringLiteral("Track02.wav")) +
                            QStringLiteral(" already exists,do you want to replace it?"));
    EXPECT_EQ(box.Caption, QApplication::applicationDisplayName());
    EXPECT_EQ(box.Kind, TMsgDlgType::mtWarning);
    EXPECT_EQ(box.Buttons,
              QList<TMsgDlgBtn>({TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbYesToAll}));
    EXPECT_EQ(box.ButtonCaptions, QStringList({QStringLiteral("&Yes"), QStringLiteral("&No"),
                                               QStringLiteral("Replace &All")}));
    EXPECT_EQ(box.DefaultResult, mrYes);
    EXPECT_EQ(box.EscapeResult, mrNo);
    EXPECT_TRUE(box.Beep);

    EXPECT_EQ(Row(0)->SubItem(TTrackRow::siStatus), QStringLiteral("OK"));
    EXPECT_EQ(Row(1)->SubItem(TTrackRow::siStatus), QStringLiteral("--"));
    EXPECT_EQ(Row(2)->SubItem(TTrackRow::siStatus), QStringLiteral("--"));
    EXPECT_EQ(ReadFile(Out(QStringLiteral("Track02.wav"))), QByteArray("old two"));
    EXPECT_EQ(ReadFile(Out(QStringLiteral("Track03.wav"))), QByteArray("old three"));
    EXPECT_TRUE(Shell.Opened().isEmpty());
}

TEST_F(JobTest, ReplaceAllHoldsForOneJobOnly)
{
    Tick({0, 1, 2});
    ASSERT_TRUE(QDir().mkpath(Out(QString())));
    for (const char* name : {"Track01.mp3", "Track02.mp3", "Track03.mp3"})
        WriteFile(Out(QString::fromUtf8(name)), "old");
    Boxes.SetNextAnswer(mrYesToAll);

    EXPECT_EQ(Run(false), mrOk);
    EXPECT_EQ(Boxes.Shown().size(), 1);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Row(i)->SubItem(TTrackRow::siStatus), QStringLiteral("OK"));
        const QByteArray mp3 = ReadFile(Out(QStringLiteral("Track0%1.mp3").arg(i + 1)));
        EXPECT_EQ(mp3.size(), 900 + 128) << i;
        EXPECT_TRUE(mp3.right(128).startsWith("TAGTrack0")) << i;
    }

    Boxes.Clear();
    Boxes.SetNextAnswer(mrYes);
    Boxes.SetNextAnswer(mrYes);
    Boxes.SetNextAnswer(mrYes);
    EXPECT_EQ(Run(false), mrOk);
    EXPECT_EQ(Boxes.Shown().size(), 3);
    EXPECT_TRUE(Settings.ConfirmReplace);
}

TEST_F(JobTest, Mp3FilesCarryTheRowTitle)
{
    Tick({3});
    Row(3)->SetCaption(QStringLiteral(" A title that is longer than thirty characters"));

    EXPECT_EQ(Run(false), mrOk);

    const QByteArray mp3 =
        ReadFile(Out(QStringLiteral("A title that is longer than thirty characters.mp3")));
    ASSERT_EQ(mp3.size(), 900 + 128);
    const QByteArray tag = mp3.right(128);
    EXPECT_TRUE(tag.startsWith("TAG"));
    // The caption as the row holds it, cut to the field.
    EXPECT_EQ(tag.mid(3, 30), QByteArray(" A title that is longer than t"));
    EXPECT_EQ(tag.mid(33, 30), QByteArray(30, ' '));
    EXPECT_EQ(uint8_t(tag.at(127)), 12);
    EXPECT_FALSE(Fake.CallLog.isEmpty());
    EXPECT_TRUE(Reports.isEmpty());
}

TEST_F(JobTest, TwoRowsOfOneTitleKeepBothFilesWithoutAQuestion)
{
    Tick({0, 1, 2});
    Row(0)->SetCaption(QStringLiteral("Same"));
    Row(1)->SetCaption(QStringLiteral(" Same "));
    Row(2)->SetCaption(QStringLiteral("Same"));

    EXPECT_EQ(Run(false), mrOk);

    EXPECT_TRUE(Boxes.Shown().isEmpty());
    EXPECT_TRUE(Reports.isEmpty());
    const char* names[] = {"Same.mp3", "Same (2).mp3", "Same (3).mp3"};
    for (int i = 0; i < 3; ++i) {
        const QByteArray mp3 = ReadFile(Out(QString::fromUtf8(names[i])));
        ASSERT_EQ(mp3.size(), 900 + 128) << names[i];
        // The tag keeps the row's own title.
        EXPECT_TRUE(mp3.right(128).startsWith("TAG" + Row(i)->Caption().toLatin1() + "  "))
            << names[i];
    }
    EXPECT_EQ(Row(1)->SubItem(TTrackRow::siStatus), QStringLiteral("OK"));
    EXPECT_EQ(QDir(Out(QString())).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST_F(JobTest, AFolderThatIsNoFullPathIsRefusedBeforeAnythingIsWritten)
{
    // Such a folder once meant the root of the file system. The job runs in a child process
    // whose root is a folder of this test, so even a job that went wrong writes nowhere else.
    if (::geteuid() != 0)
        GTEST_SKIP() << "confining the job to a folder of its own (chroot) needs root";
    const QString jail = Dir.filePath(QStringLiteral("jail"));
    ASSERT_TRUE(QDir().mkpath(jail));
    Tick({0, 1});
    const char* hostile[] = {"", "   ", "Music", "./Music", "~someone/Music"};

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::chroot(QFile::encodeName(jail).constData()) != 0 || ::chdir("/") != 0)
            ::_exit(90);
        int failures = 0;
        for (const char* outDir : hostile) {
            Reports.clear();
            Settings.OutDir = QString::fromUtf8(outDir);
            Tfrmprg frm(Main.get());
            frm.FormShow();
            frm.Timer1Timer();
            const bool told =
                Reports.size() == 1 &&
                Reports.first().endsWith(QStringLiteral("choose an output folder in the options"));
            if (!told || Fake.Count(QStringLiteral("CR_OpenRipper")) != 0 || frm.Running()) {
                std::fprintf(stderr, "OutDir \"%s\": %s\n", outDir,
                             qPrintable(Reports.join(QStringLiteral(" | "))));
                ++failures;
            }
        }
        ::_exit(failures);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "cases that were not refused, or 90: no chroot";
    EXPECT_TRUE(QDir(jail).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        << qPrintable(QDir(jail).entryList(QDir::AllEntries | QDir::Hidden).join(u' '));
    EXPECT_EQ(Row(0)->SubItem(TTrackRow::siStatus), QStringLiteral("--"));
}

TEST_F(JobTest, CancelDuringTheFirstRowStopsTheJob)
{
    Tick({0, 1, 2});
    Fake.OnRipChunk = [&](int call) {
        if (call == 1 && TrackBeingRead() == 0)
            Window->btnCancel->click();
    };

    EXPECT_EQ(Run(true), mrCancel);

    EXPECT_EQ(Row(0)->SubItem(TTrackRow::siStatus), QStringLiteral("Cancelled"));
    EXPECT_EQ(Row(1)->SubItem(TTrackRow::siStatus), QStringLiteral("--"));
    EXPECT_EQ(Row(2)->SubItem(TTrackRow::siStatus), QStringLiteral("--"));
    // The part read before the cancel stays, as a finished file.
    EXPECT_EQ(ReadFile(Out(QStringLiteral("Track01.wav"))).size(), 44 + 2 * kChunkBytes);
    EXPECT_FALSE(QFile::exists(Out(QStringLiteral("Track02.wav"))));
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_OpenRipper")), 1);
    EXPECT_TRUE(Shell.Opened().isEmpty());
    EXPECT_TRUE(Reports.isEmpty());
}

TEST_F(JobTest, EscapeAndClosingCancelInsteadOfHidingARunningJob)
{
    Tick({0, 1});
    Fake.OnRipChunk = [&](int call) {
        if (call == 0) {
            QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(Window, &escape);
            EXPECT_TRUE(Window->isVisible());
            Window->close();
            EXPECT_TRUE(Window->isVisible());
        }
    };
    EXPECT_EQ(Run(true), mrCancel);
    EXPECT_EQ(Row(0)->SubItem(TTrackRow::siStatus), QStringLiteral("Cancelled"));
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_OpenRipper")), 1);
}

// Minimising the window and restoring it shows it again in the middle of its job.
TEST_F(JobTest, RestoringTheWindowKeepsTheJobsStatusAndItsCancel)
{
    Tick({0, 1});
    Fake.OnRipChunk = [&](int call) {
        if (call != 0 || TrackBeingRead() != 0)
            return;
        Window->btnCancel->click();
        Window->setWindowState(Qt::WindowMinimized);
        Window->setWindowState(Qt::WindowNoState);
        EXPECT_EQ(Window->lblStatus->text(), QStringLiteral("Extract Track01 (1 of 2)..."));
        EXPECT_EQ(Window->windowTitle(), QStringLiteral("Extract To WAV files"));
        EXPECT_TRUE(Window->CancelRequested);
    };
    EXPECT_EQ(Run(true), mrCancel);
    EXPECT_EQ(Row(0)->SubItem(TTrackRow::siStatus), QStringLiteral("Cancelled"));
    EXPECT_EQ(Row(1)->SubItem(TTrackRow::siStatus), QStringLiteral("--"));
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_OpenRipper")), 1);
}

TEST_F(JobTest, LongTitlesAndPathsKeepTheCountAndTheExtensionInSight)
{
    const QString title = QStringLiteral("Opening ") + QString(30, QLatin1Char('x')) +
                          QStringLiteral(" a very long title in many words ") +
                          QString(120, QLatin1Char('y')) + QStringLiteral(" Closing");
    Settings.OutDir = Dir.filePath(QStringLiteral("Music/") + QString(150, QLatin1Char('f')));
    Tick({1, 3});
    Row(1)->SetCaption(title);
    QString status, statusTip, path, pathTip;
    bool fits = false;
    Fake.OnRipChunk = [&](int call) {
        if (call == 0 && TrackBeingRead() == 1) {
            const QLabel* label = Window->lblStatus;
            fits = QFontMetrics(label->font()).horizontalAdvance(label->text()) <= label->width();
            for (const QString& line : Window->lblPath->text().split(QLatin1Char('\n')))
                fits = fits && QFontMetrics(Window->lblPath->font()).horizontalAdvance(line) <=
                                   Window->lblPath->width();
            status = Window->lblStatus->text();
            statusTip = Window->lblStatus->toolTip();
            path = Window->lblPath->text();
            pathTip = Window->lblPath->toolTip();
        }
    };
    EXPECT_EQ(Run(false), mrOk);

    const QString name = Settings.OutDir + QLatin1Char('/') + title + QStringLiteral(".mp3");
    EXPECT_EQ(statusTip, QStringLiteral("Extract ") + title + QStringLiteral(" (1 of 2)..."));
    EXPECT_TRUE(status.startsWith(QStringLiteral("Extract Opening "))) << status.toStdString();
    EXPECT_TRUE(status.endsWith(QStringLiteral(" Closing (1 of 2)..."))) << status.toStdString();
    EXPECT_TRUE(status.contains(QChar(0x2026)));
    EXPECT_TRUE(fits);
    EXPECT_EQ(pathTip, QStringLiteral("To ") + name);
    EXPECT_TRUE(path.startsWith(QStringLiteral("To ") + Dir.path())) << path.toStdString();
    EXPECT_TRUE(path.endsWith(QStringLiteral(" Closing.mp3"))) << path.toStdString();
    EXPECT_LE(path.count(QLatin1Char('\n')), 2);
}

TEST_F(JobTest, CancelBeforeTheFirstTickEndsTheJobAtOnce)
{
    Tick({0});
    OnWindow = [](Tfrmprg& frm) {
        frm.Timer1->setInterval(60000);
        QTimer::singleShot(0, &frm, [&frm] { frm.btnCancel->click(); });
    };
    EXPECT_EQ(Run(true), mrCancel);
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_OpenRipper")), 0);
    EXPECT_EQ(Row(0)->SubItem(TTrackRow::siStatus), QStringLiteral("--"));
}

TEST_F(JobTest, TheBarFollowsEachTrackWhileItRuns)
{
    Tick({0, 1});
    Fake.Script.clear();
    for (int p : {20, 40, 60, 80, 100})
        Fake.Script.push_back({cdrip::CDEX_OK, Pcm(kChunkBytes, p), 0, 0, p});
    Fake.Script.back().Status = cdrip::CDEX_RIPPING_DONE;
    std::vector<std::vector<double>> seen(2);
    // Slower than the bar's refresh, as a real drive is; the window runs on meanwhile.
    Fake.OnRipChunkInReader = [](int) { QThread::msleep(Tfrmprg::BarRefreshInterval + 100); };
    Fake.OnRipChunk = [&](int) {
        seen[size_t(TrackBeingRead())].push_back(Window->prgTotalProgress->Position());
    };

    EXPECT_EQ(Run(true), mrOk);

    // Each call sees the percentage the previous chunk reported: the bar moved inside the
    // job's one tick, and it starts again with the second track rather than adding up.
    EXPECT_EQ(seen[0], std::vector<double>({0, 20, 40, 60, 80}));
    ASSERT_EQ(seen[1].size(), 5u);
    EXPECT_EQ(std::vector<double>(seen[1].begin() + 1, seen[1].end()),
              std::vector<double>({20, 40, 60, 80}));
    EXPECT_EQ(Main->RipProgress(), 0);
}

TEST_F(JobTest, AFailureEndsTheJobAndIsReportedOnceAfterTheWindowCloses)
{
    Tick({0, 1, 2});
    // An earlier job's "OK" must not pass the failure off as a success.
    Row(1)->SetSubItem(TTrackRow::siStatus, QStringLiteral("OK"));
    Fake.OnRipChunk = [&](int) {
        if (TrackBeingRead() == 0)
            Fake.SetParamsStatus = cdrip::CDEX_ERROR; // the next track's parameters are refused
    };

    EXPECT_EQ(Run(true), mrOk);

    EXPECT_EQ(Reports, QStringList({QStringLiteral("Invalid CD-ROM parameters")}));
    EXPECT_EQ(WindowShownAtReport, QList<bool>({false}));
    EXPECT_EQ(Row(0)->SubItem(TTrackRow::siStatus), QStringLiteral("OK"));
    EXPECT_EQ(Row(1)->SubItem(TTrackRow::siStatus), QStringLiteral("Failed"));
    EXPECT_EQ(Row(2)->SubItem(TTrackRow::siStatus), QStringLiteral("--"));
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_OpenRipper")), 1);
    EXPECT_EQ(Main->RipProgress(), 0);
}

TEST_F(JobTest, AFullDiskOrAnUnmakeableFolderIsReportedNotSkipped)
{
    Tick({0, 1});
    {
        ASSERT_TRUE(QDir().mkpath(Out(QString())));
        const TFileSizeLimit full(44 + kChunkBytes + 100);
        EXPECT_EQ(Run(true), mrOk);
    }
    EXPECT_EQ(Reports,
              QStringList({QStringLiteral("Write error: ") + Out(QStringLiteral("Track01.wav")) +
                           QStringLiteral(": file too large")}));
    EXPECT_EQ(WindowShownAtReport, QList<bool>({false}));
    EXPECT_EQ(Row(0)->SubItem(TTrackRow::siStatus), QStringLiteral("Failed"));
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_OpenRipper")), 1);

    // A folder that cannot be made shows as the file that cannot be created in it.
    Reports.clear();
    const QString blocker = Dir.filePath(QStringLiteral("plain file"));
    WriteFile(blocker, "x");
    Settings.OutDir = blocker + QStringLiteral("/Sub");
    EXPECT_EQ(Run(true), mrOk);
    EXPECT_EQ(Reports, QStringList({QStringLiteral("Cannot create file ") + blocker +
                                    QStringLiteral("/Sub/Track01.wav: ") + blocker +
                                    QStringLiteral(" is a file, not a folder")}));
    EXPECT_EQ(Row(0)->SubItem(TTrackRow::siStatus), QStringLiteral("Failed"));
}

TEST_F(JobTest, ADriveThatCannotBeOpenedEndsTheJobWithItsCauseOnce)
{
    Tick({0, 1});
    Fake.OpenStatus = cdrip::CDEX_ERROR;

    EXPECT_EQ(Run(false), mrOk);

    ASSERT_EQ(Reports.size(), 1);
    EXPECT_TRUE(Reports.front().startsWith(QStringLiteral("The drive could not be opened")));
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_OpenRipper")), 1) << "the next row is not tried";
    EXPECT_NE(Row(0)->SubItem(TTrackRow::siStatus), QStringLiteral("OK"));
    EXPECT_NE(Row(1)->SubItem(TTrackRow::siStatus), QStringLiteral("OK"));
    EXPECT_FALSE(QFile::exists(Out(QStringLiteral("Track01.mp3"))));
}

TEST_F(JobTest, AnMp3CancelledAtOnceStillGetsItsTag)
{
    Tick({0});
    Enc.ChunkOutput.clear();
    Enc.FlushOutput.clear();
    Fake.OnRipChunk = [&](int) { Window->btnCancel->click(); };

    EXPECT_EQ(Run(false), mrCancel);

    const QByteArray mp3 = ReadFile(Out(QStringLiteral("Track01.mp3")));
    ASSERT_EQ(mp3.size(), 128);
    EXPECT_TRUE(mp3.startsWith("TAGTrack01"));
    EXPECT_TRUE(Reports.isEmpty());
    EXPECT_EQ(Row(0)->SubItem(TTrackRow::siStatus), QStringLiteral("Cancelled"));
}

TEST_F(JobTest, TitlesNeverReachOutsideTheOutputFolder)
{
    Settings.OutDir = Dir.filePath(QStringLiteral("a/b/out"));
    Settings.OpenWhenDone = false;
    ASSERT_TRUE(QDir().mkpath(Settings.OutDir));
    const QString bad[] = {QStringLiteral("../../escape"), QStringLiteral("sub/../../x"),
                           QStringLiteral(".."), QStringLiteral("new/folder")};
    for (const QString& title : bad) {
        SCOPED_TRACE(title.toStdString());
        Reports.clear();
        Tick({0, 1});
        Row(0)->SetCaption(title);
        Row(0)->SetSubItem(TTrackRow::siStatus, QStringLiteral("--"));

        EXPECT_EQ(Run(true), mrOk);

        ASSERT_EQ(Reports.size(), 1);
        EXPECT_EQ(Reports.first(), QStringLiteral("Cannot create file ") + Settings.OutDir +
                                       QLatin1Char('/') + title + QStringLiteral(".wav: ") +
                                       TitleFileNameProblem(title));
        EXPECT_FALSE(TitleFileNameProblem(title).isEmpty());
        EXPECT_EQ(Row(0)->SubItem(TTrackRow::siStatus), QStringLiteral("Failed"));
        EXPECT_EQ(Fake.Count(QStringLiteral("CR_OpenRipper")), 0);
    }
    // Nothing anywhere but the output folder itself.
    QStringList made;
    QDirIterator it(Dir.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        made << QDir(Dir.path()).relativeFilePath(it.next());
    made.sort();
    EXPECT_EQ(made,
              QStringList({QStringLiteral("a"), QStringLiteral("a/b"), QStringLiteral("a/b/out")}));
}

TEST_F(JobTest, ALinkInTheOutputFolderIsReplacedNotWrittenThrough)
{
    ASSERT_TRUE(QDir().mkpath(Out(QString())));
    const QString outside = Dir.filePath(QStringLiteral("outside.wav"));
    const QString kept = Dir.filePath(QStringLiteral("kept.wav"));
    WriteFile(kept, "precious");
    // One link to a file that does not exist yet, one to a file that does, and a second name
    // of a file outside the folder.
    ASSERT_TRUE(QFile::link(outside, Out(QStringLiteral("Track01.wav"))));
    ASSERT_TRUE(QFile::link(kept, Out(QStringLiteral("Track02.wav"))));
    const QString hard = Dir.filePath(QStringLiteral("hard.wav"));
    WriteFile(hard, "also precious");
    ASSERT_EQ(::link(QFile::encodeName(hard).constData(),
                     QFile::encodeName(Out(QStringLiteral("Track03.wav"))).constData()),
              0);
    Tick({0, 1, 2});
    Boxes.SetNextAnswer(mrYes);
    Boxes.SetNextAnswer(mrYes);
    Boxes.SetNextAnswer(mrYes);

    EXPECT_EQ(Run(true), mrOk);

    EXPECT_EQ(Boxes.Shown().size(), 3); // a dangling link is asked about too
    EXPECT_FALSE(QFile::exists(outside));
    EXPECT_EQ(ReadFile(kept), QByteArray("precious"));
    EXPECT_EQ(ReadFile(hard), QByteArray("also precious"));
    for (const char* name : {"Track01.wav", "Track02.wav", "Track03.wav"}) {
        const QFileInfo info(Out(QString::fromUtf8(name)));
        EXPECT_FALSE(info.isSymLink()) << name;
        EXPECT_EQ(info.size(), 44 + 3 * kChunkBytes) << name;
    }
}

TEST(ButtonDialog, CaptionsFollowTheBoxsOwnButtonOrder)
{
    TMessageBoxAnswerer boxes;
    boxes.SetNextAnswer(mrNo);
    const int result = ShowButtonDialog(
        QStringLiteral("Text"), QStringLiteral("Caption"), TMsgDlgType::mtConfirmation,
        {QStringLiteral("First"), QString()},
        {TMsgDlgBtn::mbCancel, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo});
    EXPECT_EQ(result, mrNo);
    ASSERT_EQ(boxes.Shown().size(), 1);
    const TMessageBoxRequest& box = boxes.Shown().first();
    EXPECT_EQ(box.Caption, QStringLiteral("Caption"));
    EXPECT_EQ(box.Kind, TMsgDlgType::mtConfirmation);
    EXPECT_EQ(box.Buttons,
              QList<TMsgDlgBtn>({TMsgDlgBtn::mbYes, TMsgDlgBtn::mbNo, TMsgDlgBtn::mbCancel}));
    EXPECT_EQ(box.ButtonCaptions, QStringList({QStringLiteral("First"), QString()}));
    EXPECT_EQ(box.DefaultResult, mrYes);
    EXPECT_EQ(box.EscapeResult, mrCancel);
    EXPECT_TRUE(box.Beep);

    // Unanswered, the box goes the Escape button's way: OK when it is the only one.
    EXPECT_EQ(ShowButtonDialog(QStringLiteral("T"), QStringLiteral("C"), TMsgDlgType::mtError, {},
                               {TMsgDlgBtn::mbOK, TMsgDlgBtn::mbRetry}),
              mrOk);
    EXPECT_EQ(boxes.Shown().last().DefaultResult, mrOk);
}

} // namespace
