// A user's session through the main window's commands, with the real ripping library on a
// generated four-track disc image and the real encoder: titles saved to and read back from the
// album information file, every track to WAV bit for bit, to MP3 that outside tools decode and
// whose title tag they read, the options' rate and mono honoured, and the settings file written
// when the window closes.
#include "ui/uMain.h"

#include "app/Options.h"
#include "app/globals.h"
#include "support/DiscImage.h"
#include "support/Tools.h"
#include "support/gui/MessageBoxAnswerer.h"
#include "support/gui/ShellRecorder.h"
#include "support/gui/WhenShown.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

const QString Python = MutagenPython();

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct TDecoded
{
    int Rate = 0;
    int Channels = 0;
    qint64 Frames = 0; // sample frames
    QString Error;
};

// What mpg123 makes of an MP3: it decodes to a WAV whose header tells rate and channels.
TDecoded Decode(const QString& mp3, const QString& wav)
{
    TDecoded d;
    const TToolResult r =
        RunTool(QStringLiteral("mpg123"), {QStringLiteral("-q"), QStringLiteral("-w"), wav, mp3});
    if (r.ExitCode != 0) {
        d.Error = QString::fromUtf8(r.Err);
        return d;
    }
    const QByteArray bytes = ReadFile(wav);
    if (bytes.size() < 44) {
        d.Error = QStringLiteral("no WAV from mpg123");
        return d;
    }
    auto u16 = [&](int at) { return int(uint8_t(bytes[at])) | int(uint8_t(bytes[at + 1])) << 8; };
    d.Channels = u16(22);
    d.Rate = u16(24) | u16(26) << 16;
    d.Frames = (bytes.size() - 44) / (2 * qMax(1, d.Channels));
    return d;
}

// The ID3v1 title mutagen reads.
QString TagTitle(const QString& mp3)
{
    const TToolResult r =
        RunTool(Python, {QStringLiteral("-c"),
                         QStringLiteral("import sys\nfrom mutagen.id3 import ID3\n"
                                        "t = ID3(sys.argv[1]).get('TIT2')\n"
                                        "sys.stdout.write(str(t.text[0]) if t else '')\n"),
                         mp3});
    return r.ExitCode == 0 ? QString::fromUtf8(r.Out)
                           : QStringLiteral("<%1>").arg(QString::fromUtf8(r.Err));
}

TEST(CommandsEndToEnd, FourTracksThroughTheWindowsCommands)
{
    if (!HaveTool(QStringLiteral("mpg123")) || !QFileInfo::exists(Python) ||
        RunTool(Python, {QStringLiteral("-c"), QStringLiteral("import mutagen")}).ExitCode != 0)
        GTEST_SKIP() << "mpg123 or mutagen missing";

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    TDiscImage disc;
    // Four short tracks (2 s, 1 s, 2 s, 1.5 s) keep the whole session to a few seconds.
    ASSERT_TRUE(
        disc.Write(folder.path(), {{150}, {75}, {150}, {113}}, 11, QStringLiteral("session")))
        << disc.Error.toStdString();
    // The library reads its drive list once, when it is first used.
    qputenv("CDRIP_DRIVES", disc.CuePath.toUtf8());

    SetDefaultSettings();
    QFile::remove(SettingsFileName());
    QFile::remove(AlbumInfoFileName());
    const QString out = folder.filePath(QStringLiteral("Ripped/Album"));
    Settings.OutDir = out + QStringLiteral("/");
    Settings.OpenWhenDone = true;
    TMessageBoxAnswerer boxes;
    TShellRecorder shell;

    auto w = std::make_unique<TfrmMain>();
    w->Timer1->stop();
    int drive = -1;
    for (int i = 0; i < w->cboDrive->count(); ++i) {
        if (w->cboDrive->itemText(i).contains(QStringLiteral("session")))
            drive = i;
    }
    ASSERT_GE(drive, 0);
    w->cboDrive->setCurrentIndex(drive);
    w->cboDriveClick();
    TListView* list = w->ListView1;
    ASSERT_EQ(list->RowCount(), 4);

    // Titles typed by the user, saved, lost to a reload and read back from the album file.
    const QStringList titles{QStringLiteral("Morning Light"), QStringLiteral(" Two Rivers "),
                             QStringLiteral("Après-midi"), QStringLiteral("Coda")};
    for (int i = 0; i < 4; ++i)
        list->Row(i)->SetCaption(titles.at(i));
    w->SaveCDInformation1Click();
    for (int i = 0; i < 4; ++i)
        list->Row(i)->SetCaption(QStringLiteral("changed"));
    w->cboDriveClick();
    ASSERT_EQ(list->RowCount(), 4);
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(list->Row(i)->Caption().trimmed(), titles.at(i).trimmed()) << i;

    auto fileOf = [&](int i, const char* extension) {
        return out + QLatin1Char('/') + titles.at(i).trimmed() + QLatin1String(extension);
    };

    // WAV: every byte of every track, after a 44-byte header that outside tools accept.
    w->SelectAll1Click();
    w->ExtractTracksToWAVFiles1Click();
    EXPECT_TRUE(boxes.Shown().isEmpty());
    for (int i = 0; i < 4; ++i) {
        const QByteArray wav = ReadFile(fileOf(i, ".wav"));
        ASSERT_EQ(wav.size(), 44 + disc.TrackBytes(i).size()) << i;
        EXPECT_TRUE(wav.mid(44) == disc.TrackBytes(i)) << "track " << i << " is not bit-exact";
        EXPECT_EQ(list->Row(i)->SubItem(TTrackRow::siStatus), QStringLiteral("OK"));
        if (HaveTool(QStringLiteral("soxi"))) {
            const TToolResult sox =
                RunTool(QStringLiteral("soxi"), {QStringLiteral("-s"), fileOf(i, ".wav")});
            EXPECT_EQ(sox.Out.trimmed().toLongLong(), disc.Tracks.at(i).Sectors * 588) << i;
        }
    }
    ASSERT_EQ(shell.Opened().size(), 1);
    EXPECT_EQ(shell.Opened().front().toLocalFile(), out);
    EXPECT_TRUE(w->Timer1->isActive());

    // MP3 at the defaults: 44100 Hz stereo, the whole track, the row's title in the tag.
    w->ExtractTracksToMP3Files1Click();
    for (int i = 0; i < 4; ++i) {
        const TDecoded d = Decode(fileOf(i, ".mp3"), folder.filePath(QStringLiteral("d.wav")));
        ASSERT_TRUE(d.Error.isEmpty()) << d.Error.toStdString();
        EXPECT_EQ(d.Rate, 44100);
        EXPECT_EQ(d.Channels, 2);
        EXPECT_EQ(d.Frames, disc.Tracks.at(i).Sectors * 588) << i;
        EXPECT_EQ(TagTitle(fileOf(i, ".mp3")), list->Row(i)->Caption().trimmed()) << i;
    }

    // The options dialog sets 22050 Hz mono; the next job replaces the files after one
    // "Replace &All".
    WhenShown<TfrmOptions>([](TfrmOptions* dialog) {
        dialog->ComboBox1->setCurrentIndex(dialog->ComboBox1->findText(QStringLiteral("22050")));
        dialog->ComboBox4->setCurrentIndex(3);
        dialog->OKClick();
    });
    w->Options1Click();
    ASSERT_EQ(Settings.SampleRates, 22050);
    ASSERT_EQ(Settings.Mode, 3);
    boxes.Clear();
    boxes.SetNextAnswer(mrYesToAll);
    list->Row(1)->SetChecked(false);
    w->ExtractTracksToMP3Files1Click();
    EXPECT_EQ(boxes.Shown().size(), 1) << "one question, then the rest are replaced";
    for (const int i : {0, 2, 3}) {
        const TDecoded d = Decode(fileOf(i, ".mp3"), folder.filePath(QStringLiteral("d.wav")));
        ASSERT_TRUE(d.Error.isEmpty()) << d.Error.toStdString();
        EXPECT_EQ(d.Rate, 22050);
        EXPECT_EQ(d.Channels, 1);
        // The track's length at the lower rate, within one resampler's edge.
        EXPECT_NEAR(double(d.Frames), disc.Tracks.at(i).Sectors * 294.0, 64.0) << i;
        EXPECT_EQ(TagTitle(fileOf(i, ".mp3")), list->Row(i)->Caption().trimmed()) << i;
    }

    // Closing writes the settings file; a fresh start reads the chosen values back.
    QFile::remove(SettingsFileName());
    w->Exit1Click();
    w.reset();
    ASSERT_TRUE(QFile::exists(SettingsFileName()));
    SetDefaultSettings();
    EXPECT_TRUE(LoadSettings());
    EXPECT_EQ(Settings.SampleRates, 22050);
    EXPECT_EQ(Settings.Mode, 3);
    EXPECT_TRUE(Settings.OpenWhenDone);
    EXPECT_EQ(Settings.OutDir, out + QStringLiteral("/"));

    // Nothing was written beside the output folder.
    const QStringList outside = QDir(folder.filePath(QStringLiteral("Ripped")))
                                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    EXPECT_EQ(outside, QStringList{QStringLiteral("Album")});
}

} // namespace
