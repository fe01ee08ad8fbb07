// The player against the real ripping library and a disc image, with a silent sound device:
// the position moves at the disc's pace, pause holds it, the poll goes on to the next track.
#include "ui/uMain.h"

#include "cd/CDRIP.h"
#include "support/DiscImage.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

// Lets the window's timers and events run for `ms` milliseconds, or until `done` holds.
bool RunEvents(int ms, const std::function<bool()>& done = {})
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        if (done && done())
            return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
    return done && done();
}

int32_t PlayPosition()
{
    int32_t relative = 0, absolute = 0;
    cdrip::DefaultCDRipLibrary().CR_GetPlayPosition(&relative, &absolute);
    return absolute;
}

TEST(PlaybackTest, PlaysPausesAndGoesOnToTheNextTrack)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    TDiscImage disc;
    // Short tracks keep the test quick: 2 s, 3 s, 2 s.
    ASSERT_TRUE(disc.Write(folder.path(), {{150}, {225}, {150}}, 7, QStringLiteral("playback")))
        << disc.Error.toStdString();
    // The library reads its drive list once, when it is first used.
    qputenv("CDRIP_DRIVES", disc.CuePath.toUtf8());

    auto w = std::make_unique<TfrmMain>();
    int drive = -1;
    for (int i = 0; i < w->cboDrive->count(); ++i) {
        if (w->cboDrive->itemText(i).contains(QStringLiteral("playback")))
            drive = i;
    }
    ASSERT_GE(drive, 0);
    w->cboDrive->setCurrentIndex(drive);
    w->cboDriveClick();
    ASSERT_EQ(w->ListView1->RowCount(), 3);
    const TDiscImageTrack second = disc.Tracks.at(1);
    const TDiscImageTrack third = disc.Tracks.at(2);

    w->ListView1->SelectRow(1);
    w->btnPlayClick();
    EXPECT_EQ(w->CurrentTrack(), 1);
    RunEvents(300);
    // The pace is taken over the time that really passed: on a busy machine the events can
    // run for longer than asked.
    QElapsedTimer paced;
    paced.start();
    const int32_t start = PlayPosition();
    RunEvents(1000);
    const int32_t later = PlayPosition();
    const qint64 elapsed = paced.elapsed();
    EXPECT_GE(start, second.FirstSector);
    EXPECT_LE(later, second.LastSector());
    const qint64 expected = elapsed * 75 / 1000;
    EXPECT_NEAR(later - start, expected, 15) << "sectors played in " << elapsed << " ms";
    RecordProperty("SectorsInOneSecond",
                   int((later - start) * 1000 / std::max<qint64>(elapsed, 1)));
    EXPECT_EQ(w->ListView1->Row(1)->ImageIndex(), imgNowPlaying);

    w->imgPauseClick();
    RunEvents(200);
    const int32_t held = PlayPosition();
    RunEvents(1200); // at least one poll while paused
    EXPECT_NEAR(PlayPosition(), held, 1);
    EXPECT_EQ(w->CurrentTrack(), 1);

    w->imgPauseClick();
    ASSERT_TRUE(RunEvents(6000, [&] { return w->CurrentTrack() == 2; }))
        << "the poll did not go on after the second track";
    EXPECT_EQ(w->ListView1->SelectedIndex(), 2);
    RunEvents(1200);
    EXPECT_GE(PlayPosition(), third.FirstSector);
    EXPECT_EQ(w->ListView1->Row(2)->ImageIndex(), imgNowPlaying);
    EXPECT_EQ(w->ListView1->Row(1)->ImageIndex(), imgAudioTrack);

    w->btnStopClick();
    const int32_t stopped = PlayPosition();
    RunEvents(300);
    EXPECT_NEAR(PlayPosition(), stopped, 1);
}

} // namespace
