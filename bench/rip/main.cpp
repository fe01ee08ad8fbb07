// bench-rip: extracts a generated 74-minute disc image through the ripper, to WAV and to MP3, and
// prints the figures beside a plain libcdio-paranoia read loop over the same image and the lame
// command line encoder on the same audio with the same settings. Each measurement runs in a
// child process of its own, so its peak memory is its own.
//
//   bench-rip [--minutes N]      (N: the long range, 74 by default; the short range is 5)
#include "cd/CDRIP.h"
#include "mp3/LameCoder.h"
#include "platform/cdrip/LibCdioRipLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kSectorBytes = 2352;
constexpr int kSectorsPerMinute = 4500;
constexpr int kShortMinutes = 5;

// Writes a one-file CUE/BIN of music-like audio: a few drifting partials and a little noise, so
// the encoder has real work. Two tracks: the first kShortMinutes long, the second the rest.
bool WriteImage(const QString& folder, int minutes, QString& cue)
{
    const QString bin = folder + QStringLiteral("/bench.bin");
    cue = folder + QStringLiteral("/bench.cue");
    QFile b(bin);
    if (!b.open(QIODevice::WriteOnly))
        return false;
    const int64_t frames = int64_t(minutes) * kSectorsPerMinute * 588;
    std::vector<int16_t> block(588 * 2 * 75);
    double phase[4] = {0, 0, 0, 0};
    uint32_t noise = 12345;
    for (int64_t at = 0; at < frames;) {
        const int64_t n = std::min<int64_t>(frames - at, int64_t(block.size() / 2));
        for (int64_t i = 0; i < n; ++i) {
            const double t = double(at + i) / 44100.0;
            const double base = 110.0 * std::pow(2.0, std::floor(std::fmod(t * 2, 12)) / 12);
            double v = 0;
            for (int p = 0; p < 4; ++p) {
                phase[p] += 2 * M_PI * base * (p + 1) / 44100.0;
                v += std::sin(phase[p]) / (p + 1.5);
            }
            noise = noise * 1664525u + 1013904223u;
            const double hiss = (int32_t(noise) / 2147483648.0) * 0.03;
            block[size_t(2 * i)] = int16_t(std::lround((v * 0.35 + hiss) * 32767 * 0.8));
            block[size_t(2 * i + 1)] = int16_t(std::lround((v * 0.30 - hiss) * 32767 * 0.8));
        }
        const qint64 bytes = n * 4;
        if (b.write(reinterpret_cast<const char*>(block.data()), bytes) != bytes)
            return false;
        at += n;
    }
    b.close();
    QFile c(cue);
    if (!c.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    c.write("FILE \"bench.bin\" BINARY\n"
            "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
            "  TRACK 02 AUDIO\n    INDEX 01 " +
            QByteArray::number(kShortMinutes).rightJustified(2, '0') + ":00:00\n");
    return true;
}

long PeakKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

// The plain loop: paranoia in the mode the ripping library uses, every sector copied out once.
int ReadLoop(const QString& cue, int first, int last, const QString& out = {})
{
    QFile file(out);
    if (!out.isEmpty() && !file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return 1;
    CdIo_t* cdio = cdio_open_cue(QFile::encodeName(cue).constData());
    if (!cdio)
        return 1;
    cdrom_drive_t* drive = cdio_cddap_identify_cdio(cdio, CDDA_MESSAGE_FORGETIT, nullptr);
    if (!drive || cdio_cddap_open(drive) != 0)
        return 1;
    drive->bigendianp = 0;
    cdrom_paranoia_t* p = cdio_paranoia_init(drive);
    cdio_paranoia_modeset(p, PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP);
    cdio_paranoia_set_range(p, first, last);
    cdio_paranoia_seek(p, first, SEEK_SET);
    std::vector<uint8_t> chunk(26 * kSectorBytes);
    uint64_t sum = 0;
    for (int s = first; s <= last; ++s) {
        const int16_t* sector = cdio_paranoia_read_limited(p, nullptr, 20);
        if (!sector)
            return 1;
        std::memcpy(chunk.data() + (s % 26) * kSectorBytes, sector, kSectorBytes);
        sum += chunk[size_t((s % 26) * kSectorBytes)];
        if (file.isOpen() && (s % 26 == 25 || s == last) &&
            file.write(reinterpret_cast<const char*>(chunk.data()),
                       qint64(s % 26 + 1) * kSectorBytes) != qint64(s % 26 + 1) * kSectorBytes)
            return 1;
    }
    cdio_paranoia_free(p);
    cdio_cddap_close_no_free_cdio(drive);
    cdio_destroy(cdio);
    return sum == 0xFFFFFFFFFFFFull ? 2 : 0;
}

int Rip(const QString& cue, int first, int last, bool mp3, const QString& out)
{
    qputenv("CDRIP_DRIVES", QFile::encodeName(cue));
    auto lib = cdrip::CreateCDRipLibrary();
    TCDRIP rip(nullptr, lib.get());
    TLameCoder coder;
    rip.SetCoder(&coder);
    rip.WriteWAV = true;
    rip.Encode = mp3;
    if (rip.TrackCount == 0)
        return 1;
    try {
        rip.RipRange(first, last, out);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.Message()));
        return 1;
    }
    return 0;
}

// Runs one measurement in a child: its wall time and its peak resident memory.
struct TFigure
{
    double Seconds = -1;
    long PeakKb = -1;
};

TFigure Child(const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), args);
    p.waitForFinished(-1);
    TFigure f;
    const QList<QByteArray> parts = p.readAllStandardOutput().trimmed().split(' ');
    if (p.exitCode() == 0 && parts.size() == 2) {
        f.Seconds = parts[0].toDouble();
        f.PeakKb = parts[1].toLong();
    }
    return f;
}

// Debian's lame on the WAV the ripper wrote, with the component's default settings: 128 kbit/s
// constant, plain stereo, quality 3, CRC on, no tags, no replay gain analysis.
TFigure Lame(const QString& wav, const QString& mp3)
{
    const QByteArray in = QFile::encodeName(wav);
    const QByteArray out = QFile::encodeName(mp3);
    QElapsedTimer t;
    t.start();
    const pid_t pid = fork();
    if (pid == 0) {
        execlp("lame", "lame", "--quiet", "-b", "128", "-m", "s", "-q", "3", "-p", "-t",
               "--noreplaygain", in.constData(), out.constData(), static_cast<char*>(nullptr));
        _exit(127);
    }
    TFigure f;
    int status = 0;
    rusage usage{};
    if (pid > 0 && wait4(pid, &status, 0, &usage) == pid && WIFEXITED(status) &&
        WEXITSTATUS(status) == 0) {
        f.Seconds = t.elapsed() / 1000.0;
        f.PeakKb = usage.ru_maxrss;
    }
    return f;
}

void Row(const char* what, const TFigure& f, double seconds)
{
    std::printf("  %-34s %8.2f s  %7.1fx real time  %6.1f MB peak\n", what, f.Seconds,
                seconds / f.Seconds, f.PeakKb / 1024.0);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 6 && args[1] == QStringLiteral("--child")) {
        QElapsedTimer t;
        t.start();
        const QString mode = args[2];
        const QString cue = args[3];
        const int first = args[4].toInt();
        const int last = args[5].toInt();
        int rc = 1;
        if (mode == QStringLiteral("read"))
            rc = ReadLoop(cue, first, last);
        else if (mode == QStringLiteral("readwrite") && args.size() >= 7)
            rc = ReadLoop(cue, first, last, args[6]);
        else if (args.size() >= 7)
            rc = Rip(cue, first, last, mode == QStringLiteral("mp3"), args[6]);
        std::printf("%.3f %ld\n", t.elapsed() / 1000.0, PeakKb());
        return rc;
    }

    int minutes = 74;
    if (args.size() >= 3 && args[1] == QStringLiteral("--minutes"))
        minutes = std::max(kShortMinutes + 1, args[2].toInt());

    QTemporaryDir dir;
    QString cue;
    std::printf("bench-rip: writing a %d-minute disc image (%.0f MB) into %s\n", minutes,
                minutes * kSectorsPerMinute * double(kSectorBytes) / 1e6, qPrintable(dir.path()));
    std::fflush(stdout);
    if (!dir.isValid() || !WriteImage(dir.path(), minutes, cue)) {
        std::fprintf(stderr, "cannot write the image\n");
        return 1;
    }

    const int ranges[2][2] = {{0, kShortMinutes * kSectorsPerMinute - 1},
                              {0, minutes * kSectorsPerMinute - 1}};
    bool ok = true;
    long peaks[2] = {0, 0};
    for (int r = 0; r < 2; ++r) {
        const int first = ranges[r][0];
        const int last = ranges[r][1];
        const double seconds = (last - first + 1) / 75.0;
        const QString a = QString::number(first);
        const QString b = QString::number(last);
        const QString wav = dir.filePath(QStringLiteral("out.wav"));
        const QString mp3 = dir.filePath(QStringLiteral("out.mp3"));
        const QString lameMp3 = dir.filePath(QStringLiteral("lame.mp3"));

        std::printf("\n%d-minute range (%d sectors):\n", int(seconds / 60), last - first + 1);
        const TFigure read = Child({QStringLiteral("--child"), QStringLiteral("read"), cue, a, b});
        const TFigure readWrite =
            Child({QStringLiteral("--child"), QStringLiteral("readwrite"), cue, a, b, wav});
        QFile::remove(wav);
        const TFigure toWav =
            Child({QStringLiteral("--child"), QStringLiteral("wav"), cue, a, b, wav});
        const TFigure toMp3 =
            Child({QStringLiteral("--child"), QStringLiteral("mp3"), cue, a, b, wav});
        const TFigure lame = Lame(wav, lameMp3);
        if (read.Seconds <= 0 || readWrite.Seconds <= 0 || toWav.Seconds <= 0 ||
            toMp3.Seconds <= 0 || lame.Seconds <= 0) {
            std::fprintf(stderr, "a measurement failed\n");
            ok = false;
            break;
        }
        Row("plain paranoia read loop", read, seconds);
        Row("plain read loop writing the PCM", readWrite, seconds);
        Row("ripper to WAV", toWav, seconds);
        Row("lame on the same audio", lame, seconds);
        Row("ripper to MP3", toMp3, seconds);
        std::printf("  WAV speed / read loop speed:          %6.1f %%   (target >= 90 %%)\n",
                    100.0 * read.Seconds / toWav.Seconds);
        std::printf("  WAV speed / writing read loop speed:  %6.1f %%   (the same file work)\n",
                    100.0 * readWrite.Seconds / toWav.Seconds);
        std::printf("  MP3 time / (read loop + lame) time:   %6.1f %%   (target <= 105 %%)\n",
                    100.0 * toMp3.Seconds / (read.Seconds + lame.Seconds));
        std::printf("  sizes: WAV %.1f MB, MP3 %.1f MB, lame's MP3 %.1f MB\n",
                    QFileInfo(wav).size() / 1e6, QFileInfo(mp3).size() / 1e6,
                    QFileInfo(lameMp3).size() / 1e6);
        peaks[r] = std::max(toWav.PeakKb, toMp3.PeakKb);
        QFile::remove(wav);
        QFile::remove(mp3);
        QFile::remove(lameMp3);
    }
    if (ok)
        std::printf("\npeak memory of the ripper: %.1f MB (5 min) and %.1f MB (%d min); "
                    "target: equal, under 40 MB\n",
                    peaks[0] / 1024.0, peaks[1] / 1024.0, minutes);
    return ok ? 0 : 1;
}
