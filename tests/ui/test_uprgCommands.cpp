// The commands that start an extraction job and the options dialog, against a scripted ripping
// library: which rows go to the job, the warning when none can, the poll kept off around the
// modal job, and the encoder taking the options only when they are confirmed.
#include "ui/uMain.h"

#include "app/Options.h"
#include "app/globals.h"
#include "cd/CDRIP.h"
#include "mp3/LameCoder.h"
#include "support/FakeCDRip.h"
#include "support/gui/MessageBoxAnswerer.h"
#include "support/gui/WhenShown.h"
#include "ui/uprg.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>
#include <memory>

namespace {

// A disc of `audio` audio tracks of `sectors` each, then `data` data tracks.
TFakeCDRip::TDrive Disc(int audio, int data, int sectors = 150)
{
    std::vector<int32_t> starts;
    std::vector<uint8_t> flags;
    for (int i = 0; i < audio + data; ++i) {
        starts.push_back(i * sectors);
        flags.push_back(i < audio ? cdrip::AUDIOTRKFLAG : cdrip::DATATRKFLAG);
    }
    return TFakeCDRip::MakeDrive("FAKE DRIVE", starts, (audio + data) * sectors, flags);
}

class ExtractionCommandTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Out.isValid());
        SetDefaultSettings();
        Settings.OutDir = Out.path();
        Settings.OpenWhenDone = false;
        QFile::remove(SettingsFileName());
        QFile::remove(AlbumInfoFileName());
    }

    std::unique_ptr<TfrmMain> Open(int audio, int data)
    {
        Fake.Drives.push_back(Disc(audio, data));
        auto window = std::make_unique<TfrmMain>(&Fake);
        window->Timer1->stop();
        for (int i = 0; i < window->ListView1->RowCount(); ++i)
            window->ListView1->Row(i)->SetCaption(QStringLiteral("Track %1").arg(i + 1));
        return window;
    }

    // Every range delivers the same two chunks of silence (the script restarts with each).
    void ScriptEveryRange() { Fake.ScriptPcm(QByteArray(2 * 2352, '\0'), 2352); }

    QTemporaryDir Out;
    TFakeCDRip Fake;
    TMessageBoxAnswerer Boxes;
};

TEST_F(ExtractionCommandTest, OnlyDataTicked_WarnsAndOpensNoJob)
{
    auto w = Open(1, 1);
    w->ListView1->Row(0)->SetChecked(false);
    w->ListView1->Row(1)->SetChecked(true);

    for (const bool wav : {true, false}) {
        Boxes.Clear();
        if (wav)
            w->ExtractTracksToWAVFiles1Click();
        else
            w->ExtractTracksToMP3Files1Click();
        EXPECT_FALSE(w->ListView1->Row(1)->Checked());
        ASSERT_EQ(Boxes.Shown().size(), 1);
        const TMessageBoxRequest& box = Boxes.Shown().front();
        EXPECT_EQ(box.Text, QStringLiteral("No Audio Track Selected!"));
        EXPECT_EQ(box.Kind, TMsgDlgType::mtWarning);
        EXPECT_EQ(box.Buttons, QList<TMsgDlgBtn>{TMsgDlgBtn::mbOK});
    }
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_OpenRipper")), 0);
    EXPECT_FALSE(w->Timer1->isActive()) << "no job ran, so the poll was left as it was";
    EXPECT_TRUE(QDir(Out.path()).isEmpty());
}

TEST_F(ExtractionCommandTest, DataRowsLoseTheirTickAndTheAudioRowsAreExtracted)
{
    auto w = Open(2, 1);
    for (int i = 0; i < 3; ++i)
        w->ListView1->Row(i)->SetChecked(true);
    ScriptEveryRange();
    const QString dataStatus = w->ListView1->Row(2)->SubItem(TTrackRow::siStatus);

    // What the job sees while it runs: a window of its own, no owner, and the poll stopped.
    bool pollRan = false;
    QPointer<Tfrmprg> job;
    bool hadOwner = true;
    Fake.OnRipChunk = [&](int) {
        pollRan = pollRan || w->Timer1->isActive();
        if (auto* shown = qobject_cast<Tfrmprg*>(QApplication::activeModalWidget())) {
            job = shown;
            hadOwner = shown->parent() != nullptr;
        }
    };
    w->ExtractTracksToWAVFiles1Click();

    EXPECT_TRUE(Boxes.Shown().isEmpty());
    EXPECT_FALSE(w->ListView1->Row(2)->Checked());
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_OpenRipper")), 2);
    EXPECT_TRUE(QFile::exists(Out.filePath(QStringLiteral("Track 1.wav"))));
    EXPECT_TRUE(QFile::exists(Out.filePath(QStringLiteral("Track 2.wav"))));
    EXPECT_FALSE(QFile::exists(Out.filePath(QStringLiteral("Track 3.wav"))));
    EXPECT_EQ(w->ListView1->Row(0)->SubItem(TTrackRow::siStatus), QStringLiteral("OK"));
    EXPECT_EQ(w->ListView1->Row(1)->SubItem(TTrackRow::siStatus), QStringLiteral("OK"));
    EXPECT_EQ(w->ListView1->Row(2)->SubItem(TTrackRow::siStatus), dataStatus);

    EXPECT_FALSE(pollRan);
    EXPECT_FALSE(hadOwner);
    EXPECT_TRUE(job.isNull()) << "the job window is destroyed after its showing";
    EXPECT_TRUE(w->Timer1->isActive()) << "the poll runs again after the job";
    EXPECT_FALSE(w->RIPPER->Encode);
}

TEST_F(ExtractionCommandTest, Mp3CommandEncodesAndAFailingJobStillRestartsThePoll)
{
    auto w = Open(2, 0);
    w->ListView1->Row(0)->SetChecked(true);
    w->ListView1->Row(1)->SetChecked(true);
    // The output folder is a file: the first track cannot be created.
    QFile blocker(Out.filePath(QStringLiteral("blocked")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    Settings.OutDir = blocker.fileName();
    ScriptEveryRange();

    QStringList reports;
    const TExceptionEvent previous = ApplicationOnException;
    ApplicationOnException = [&](QObject*, const std::exception& e) {
        reports << ExceptionMessage(e);
        EXPECT_EQ(qobject_cast<Tfrmprg*>(QApplication::activeModalWidget()), nullptr)
            << "the job window is closed before the failure is reported";
    };
    w->ExtractTracksToMP3Files1Click();
    ApplicationOnException = previous;

    ASSERT_EQ(reports.size(), 1);
    EXPECT_EQ(reports.front(), QStringLiteral("Cannot create file ") + blocker.fileName() +
                                   QStringLiteral("/Track 1.mp3: ") + blocker.fileName() +
                                   QStringLiteral(" is a file, not a folder"));
    EXPECT_TRUE(w->RIPPER->Encode);
    // The name is found unusable before the disc is read, and no row after it is tried.
    EXPECT_EQ(Fake.Count(QStringLiteral("CR_OpenRipper")), 0);
    EXPECT_TRUE(w->Timer1->isActive());
}

TEST_F(ExtractionCommandTest, AJobStopsThePlayerFirst)
{
    auto w = Open(2, 0);
    ScriptEveryRange();
    for (const bool paused : {false, true}) {
        QFile::remove(Out.filePath(QStringLiteral("Track 2.wav")));
        w->ListView1->Row(1)->SetChecked(true);
        w->ListView1->SelectRow(0);
        w->btnPlayClick();
        if (paused)
            w->imgPauseClick();
        Fake.ClearLog();
        w->ExtractTracksToWAVFiles1Click();
        const qsizetype stop = Fake.CallLog.indexOf(QStringLiteral("CR_StopPlayTrack"));
        ASSERT_GE(stop, 0) << paused;
        EXPECT_LT(stop, Fake.CallLog.indexOf(QStringLiteral("CR_OpenRipper")));
        EXPECT_FALSE(w->PlayActive());
        EXPECT_EQ(w->ListView1->Row(1)->SubItem(TTrackRow::siStatus), QStringLiteral("OK"));
    }
}

TEST_F(ExtractionCommandTest, OptionsReachTheEncoderOnlyWhenConfirmed)
{
    auto w = Open(1, 0);
    ASSERT_EQ(w->LameCoder1->Bitrate(), 128u);

    w->move(200, 150);
    w->show();
    QRect owner, placed;
    TfrmMain* main = w.get();
    WhenShown<TfrmOptions>([&owner, &placed, main](TfrmOptions* dialog) {
        // Owned by the main window (one task-bar entry) and opened centred over it.
        EXPECT_EQ(dialog->parentWidget(), main);
        owner = main->frameGeometry();
        placed = dialog->frameGeometry();
        dialog->ComboBox2->setCurrentIndex(dialog->ComboBox2->findText(QStringLiteral("192")));
        dialog->ComboBox1->setCurrentIndex(dialog->ComboBox1->findText(QStringLiteral("22050")));
        dialog->reject();
    });
    w->Options1Click();
    EXPECT_LE((owner.center() - placed.center()).manhattanLength(), 2);
    EXPECT_EQ(w->LameCoder1->Bitrate(), 128u);
    EXPECT_EQ(w->LameCoder1->SampleRate(), 44100u);
    EXPECT_EQ(Settings.BitRates, 128);

    QPointer<TfrmOptions> shown;
    WhenShown<TfrmOptions>([&shown, main](TfrmOptions* dialog) {
        shown = dialog;
        EXPECT_EQ(dialog->parent(), main);
        dialog->ComboBox2->setCurrentIndex(dialog->ComboBox2->findText(QStringLiteral("192")));
        dialog->ComboBox1->setCurrentIndex(dialog->ComboBox1->findText(QStringLiteral("22050")));
        dialog->ComboBox4->setCurrentIndex(3);
        dialog->OKClick();
    });
    w->Options1Click();
    EXPECT_EQ(Settings.BitRates, 192);
    EXPECT_EQ(w->LameCoder1->Bitrate(), 192u);
    EXPECT_EQ(w->LameCoder1->SampleRate(), 22050u);
    EXPECT_EQ(w->LameCoder1->Mode(), TLameMode(3));
    EXPECT_TRUE(shown.isNull()) << "the dialog is destroyed after its showing";
}

} // namespace
