// bench-images: what the ripping library's drive list costs at start-up with disc images named in
// CDRIP_DRIVES, each checked in a process of its own before it is opened. It writes CUE sheets of
// 20 tracks over 74-minute BIN files (sparse, so the disk stays empty), then times CR_Init with
// 1, 4 and 16 of them named, beside the same images opened by libcdio in this process, unchecked.
//
//   bench-images [--rounds N]      (N: the runs each figure is the median of, 15 by default)
#include "platform/cdrip/ImageCheck.h"
#include "platform/cdrip/LibCdioRipLibrary.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cdio/cdio.h>
#include <cdio/logging.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kTracks = 20;
constexpr qint64 kSectors = 74 * 4500;

bool WriteImage(const QString& folder, int n, QByteArray& cue)
{
    const QString base = folder + QStringLiteral("/disc%1").arg(n);
    QFile bin(base + QStringLiteral(".bin"));
    if (!bin.open(QIODevice::WriteOnly) || !bin.resize(kSectors * 2352))
        return false;
    QByteArray sheet = "FILE \"disc" + QByteArray::number(n) + ".bin\" BINARY\n";
    for (int t = 0; t < kTracks; ++t) {
        const qint64 start = kSectors * t / kTracks;
        sheet += QStringLiteral("  TRACK %1 AUDIO\n    INDEX 01 %2:%3:%4\n")
                     .arg(t + 1, 2, 10, QLatin1Char('0'))
                     .arg(start / 4500, 2, 10, QLatin1Char('0'))
                     .arg(start / 75 % 60, 2, 10, QLatin1Char('0'))
                     .arg(start % 75, 2, 10, QLatin1Char('0'))
                     .toLatin1();
    }
    QFile f(base + QStringLiteral(".cue"));
    if (!f.open(QIODevice::WriteOnly) || f.write(sheet) != sheet.size())
        return false;
    cue = QFile::encodeName(f.fileName());
    return true;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Milliseconds for one CR_Init with `images` named, the median of `rounds`.
double TimeInit(const QList<QByteArray>& images, int rounds, int& drives)
{
    qputenv("CDRIP_DRIVES", images.join(':'));
    std::vector<double> ms;
    for (int r = 0; r < rounds; ++r) {
        auto lib = cdrip::CreateCDRipLibrary();
        QElapsedTimer clock;
        clock.start();
        lib->CR_Init();
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
        drives = lib->CR_GetNumCDROM();
    }
    return Median(ms);
}

double TimeInProcess(const QList<QByteArray>& images, int rounds)
{
    std::vector<double> ms;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer clock;
        clock.start();
        for (const QByteArray& image : images) {
            CdIo_t* cdio = cdio_open(image.constData(), DRIVER_UNKNOWN);
            if (cdio != nullptr) {
                cdio_get_num_tracks(cdio);
                cdio_destroy(cdio);
            }
        }
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return Median(ms);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    int rounds = 15;
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--rounds"));
    if (at > 0 && at + 1 < args.size())
        rounds = std::max(1, args[at + 1].toInt());
    QTemporaryDir dir;
    QList<QByteArray> images;
    for (int n = 0; n < 16; ++n) {
        QByteArray cue;
        if (!dir.isValid() || !WriteImage(dir.path(), n, cue)) {
            std::fprintf(stderr, "bench-images: cannot write the images\n");
            return 1;
        }
        images << cue;
    }
    const std::string checker = cdrip::ImageCheckerPath();
    std::printf("checker: %s\n", checker.empty() ? "(not found)" : checker.c_str());
    std::printf("images: CUE sheets of %d tracks over 74-minute BIN files; median of %d runs\n\n",
                kTracks, rounds);

    int drives = 0;
    // A missing entry is refused before any process starts: the drive list's own cost.
    const double none = TimeInit({QByteArray("/nonexistent.cue")}, rounds, drives);
    std::printf("%-34s %8.2f ms\n", "CR_Init, one missing entry", none);
    const double demo = TimeInit({}, rounds, drives);
    std::printf("%-34s %8.2f ms   (%d listed)\n", "CR_Init, nothing named: demo disc", demo,
                drives);
    cdio_log_set_handler([](cdio_log_level_t, const char*) {});
    for (const int n : {1, 4, 16}) {
        const QList<QByteArray> named = images.mid(0, n);
        const double checked = TimeInit(named, rounds, drives);
        const double plain = TimeInProcess(named, rounds);
        std::printf("CR_Init, %2d images named (%2d listed) %8.2f ms   %6.2f ms an image   "
                    "(opened unchecked in this process: %5.2f ms an image)\n",
                    n, drives, checked, (checked - none) / n, plain / n);
    }
    std::printf("\nbudget: 100 ms an image at start-up\n");
    return 0;
}
