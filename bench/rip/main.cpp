// bench-rip: extracts a generated 74-minute disc image through the ripper, to WAV and to MP3, and
// prints the figures beside a plain libcdio-paranoia read loop over the same image and the lame
// command line encoder on the same audio with the same settings. Then it puts a drive of a real
// speed in front of the library and rips a 10-minute range at 24x and 48x: how close the rip
// comes to the drive's own pace, and how long the window's messages wait while one read stalls.
// Each measurement runs in a child process of its own, so its peak memory is its own.
//
//   bench-rip [--minutes N] [--drive-speed X] [--stall-ms N] [--paced-only]
//     --minutes N      the long range, 74 by default (the short range is 5)
//     --drive-speed X  pace the drive at X times real time only (24 and 48 by default)
//     --stall-ms N     how long the stalled read takes (3000 by default)
//     --paced-only     leave out the unpaced figures of the 5- and 74-minute ranges
#include "PacedLibrary.h"
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
#include <QTimer>
#include <QtEndian>

#include <cdio/cdio.h>
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kSectorBytes = 2352;
constexpr int kSectorsPerMinute = 4500;
constexpr int kShortMinutes = 5;
constexpr int kPacedMinutes = 10;

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

// The ripper over a drive paced at `speed` (0: as fast as the image reads). `gapMs` gets the
// longest time the window's messages waited: a zero timer fires on every round of them.
int Rip(const QString& cue, int first, int last, bool mp3, const QString& out, double speed,
        int stallMs, qint64& gapMs)
{
    qputenv("CDRIP_DRIVES", QFile::encodeName(cue));
    auto lib = cdrip::CreateCDRipLibrary();
    TPacedLibrary paced(*lib, speed, stallMs);
    TCDRIP rip(nullptr, &paced);
    TLameCoder coder;
    rip.SetCoder(&coder);
    rip.WriteWAV = true;
    rip.Encode = mp3;
    if (rip.TrackCount == 0)
        return 1;
    QElapsedTimer clock;
    qint64 previous = 0;
    QTimer round;
    round.setInterval(0);
    QObject::connect(&round, &QTimer::timeout, [&] {
        const qint64 now = clock.elapsed();
        gapMs = std::max(gapMs, now - previous);
        previous = now;
    });
    round.start();
    clock.start();
    try {
        rip.RipRange(first, last, out);
    } catch (const Exception& e) {
        std::fprintf(stderr, "%s\n", qPrintable(e.Message()));
        return 1;
    }
    return 0;
}

// The paced drive alone: every chunk of the range read through the library, nothing written.
int PacedRead(const QString& cue, int first, int last, double speed)
{
    qputenv("CDRIP_DRIVES", QFile::encodeName(cue));
    auto lib = cdrip::CreateCDRipLibrary();
    TPacedLibrary paced(*lib, speed, 0);
    TCDRIP rip(nullptr, &paced);
    int32_t size = 0;
    if (rip.TrackCount == 0 || !rip.ApplyParameters() ||
        paced.CR_OpenRipper(&size, first, last) == cdrip::CDEX_ERROR)
        return 1;
    std::vector<uint8_t> buffer(size_t(std::max(size, 1)));
    for (;;) {
        int32_t n = 0;
        const cdrip::CDSTATUS s = paced.CR_RipChunk(buffer.data(), &n, -1);
        paced.CR_GetPercentCompleted();
        if (s == cdrip::CDEX_RIPPING_DONE)
            break;
        if (s == cdrip::CDEX_ERROR)
            return 1;
    }
    paced.CR_CloseRipper();
    return 0;
}

// The MP3 the ripper must make of the range, made here on one thread straight from the image's
// bytes: the stream cut into the encoder's chunks whatever the deliveries were, the tail that does
// not fill one, the flush.
int ReferenceMp3(const QString& cue, int first, int last, const QString& out)
{
    QFile bin(QFileInfo(cue).dir().filePath(QStringLiteral("bench.bin")));
    QFile mp3(out);
    if (!bin.open(QIODevice::ReadOnly) || !bin.seek(qint64(first) * kSectorBytes) ||
        !mp3.open(QIODevice::WriteOnly))
        return 1;
    TLameCoder coder;
    coder.SetMode(STEREO);
    coder.SetSampleRate(44100);
    coder.SetPCMFormat(44100, 2);
    if (coder.OpenStream() != 0)
        return 1;
    const qint64 chunk = qint64(coder.SamplesPerChunk()) * 2;
    std::vector<uint8_t> output(coder.OutputBufferSize());
    std::vector<int16_t> pcm(size_t(chunk / 2));
    qint64 left = (qint64(last) - first + 1) * kSectorBytes;
    uint32_t bytes = 0;
    while (left > 0) {
        const qint64 n = std::min(left, chunk);
        if (bin.read(reinterpret_cast<char*>(pcm.data()), n) != n)
            return 1;
        left -= n;
        const qint64 usable = n == chunk ? n : n - n % 4;
        if (usable == 0)
            break;
        if (usable == chunk)
            coder.EncodeChunk(pcm.data(), output.data(), &bytes);
        else
            coder.EncodeChunk(pcm.data(), uint32_t(usable / 2), output.data(), &bytes);
        mp3.write(reinterpret_cast<const char*>(output.data()), bytes);
    }
    coder.FlushStream(output.data(), &bytes);
    mp3.write(reinterpret_cast<const char*>(output.data()), bytes);
    const QByteArray frame = coder.VBRHeaderFrame();
    if (!frame.isEmpty() && frame.size() <= mp3.pos() && mp3.seek(0))
        mp3.write(frame);
    coder.CloseStream();
    return 0;
}

// Whether `wav` holds a 44-byte header declaring exactly the range's bytes of the image, then
// those bytes.
bool WavMatchesImage(const QString& wav, const QString& cue, int first, int last)
{
    QFile w(wav);
    QFile bin(QFileInfo(cue).dir().filePath(QStringLiteral("bench.bin")));
    if (!w.open(QIODevice::ReadOnly) || !bin.open(QIODevice::ReadOnly) ||
        !bin.seek(qint64(first) * kSectorBytes))
        return false;
    const qint64 data = (qint64(last) - first + 1) * kSectorBytes;
    const QByteArray header = w.read(44);
    if (header.size() != 44 || w.size() != 44 + data ||
        qFromLittleEndian<uint32_t>(header.constData() + 40) != uint32_t(data))
        return false;
    for (qint64 left = data; left > 0;) {
        const qint64 n = std::min<qint64>(left, 1 << 20);
        if (w.read(n) != bin.read(n))
            return false;
        left -= n;
    }
    return true;
}

bool SameBytes(const QString& a, const QString& b)
{
    QFile x(a);
    QFile y(b);
    return x.open(QIODevice::ReadOnly) && y.open(QIODevice::ReadOnly) && x.size() == y.size() &&
           x.readAll() == y.readAll();
}

// Runs one measurement in a child: its wall time and its peak resident memory.
struct TFigure
{
    double Seconds = -1;
    long PeakKb = -1;
    long GapMs = -1; // the ripper's longest wait between two rounds of window messages
};

TFigure Child(const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), args);
    p.waitForFinished(-1);
    TFigure f;
    const QList<QByteArray> parts = p.readAllStandardOutput().trimmed().split(' ');
    if (p.exitCode() == 0 && parts.size() == 3) {
        f.Seconds = parts[0].toDouble();
        f.PeakKb = parts[1].toLong();
        f.GapMs = parts[2].toLong();
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

// The paced figures over the first kPacedMinutes of the image: the ripper against the drive
// alone at every speed, to WAV at the first, unpaced against lame, and the stalled read.
bool Paced(const QString& cue, const QTemporaryDir& dir, const QList<double>& speeds, int stallMs)
{
    const QString a = QStringLiteral("0");
    const QString b = QString::number(kPacedMinutes * kSectorsPerMinute - 1);
    const QString wav = dir.filePath(QStringLiteral("paced.wav"));
    const QString mp3 = dir.filePath(QStringLiteral("paced.mp3"));
    const QString ref = dir.filePath(QStringLiteral("reference.mp3"));
    const QString lameMp3 = dir.filePath(QStringLiteral("lame.mp3"));
    auto child = [&](const char* mode, const QString& out, double speed, int stall) {
        return Child({QStringLiteral("--child"), QString::fromLatin1(mode), cue, a, b, out,
                      QString::number(speed), QString::number(stall)});
    };
    auto speedText = [](double x) { return QByteArray::number(x, 'g', 4).toStdString(); };

    std::printf("\n%d-minute range through a paced drive:\n", kPacedMinutes);
    std::fflush(stdout);
    long peak = 0;
    bool ok = true;
    std::vector<std::string> lines;
    for (const double speed : speeds) {
        const TFigure read = child("pacedread", QStringLiteral("-"), speed, 0);
        const TFigure rip = child("mp3", mp3, speed, 0);
        ok = ok && read.Seconds > 0 && rip.Seconds > 0;
        peak = std::max(peak, rip.PeakKb);
        char line[160];
        std::snprintf(line, sizeof line, "paced %sx: MP3 rip / paced read: %.3f",
                      speedText(speed).c_str(), rip.Seconds / read.Seconds);
        lines.emplace_back(line);
        if (speed == speeds.first()) {
            const TFigure toWav = child("wav", wav, speed, 0);
            ok = ok && toWav.Seconds > 0;
            peak = std::max(peak, toWav.PeakKb);
            std::snprintf(line, sizeof line, "paced %sx: WAV rip / paced read: %.3f",
                          speedText(speed).c_str(), toWav.Seconds / read.Seconds);
            lines.emplace_back(line);
        }
    }
    // The WAV line belongs after every MP3 line.
    std::stable_partition(lines.begin(), lines.end(),
                          [](const std::string& l) { return l.find("MP3") != std::string::npos; });

    const TFigure rip = child("mp3", mp3, 0, 0);
    const TFigure lame = Lame(wav, lameMp3);
    ok = ok && rip.Seconds > 0 && lame.Seconds > 0;
    peak = std::max(peak, rip.PeakKb);
    char line[160];
    std::snprintf(line, sizeof line, "unpaced: MP3 rip / lame alone: %.3f",
                  rip.Seconds / lame.Seconds);
    lines.emplace_back(line);
    const bool sameMp3 = child("reference", ref, 0, 0).Seconds > 0 && SameBytes(mp3, ref);
    const bool sameWav = WavMatchesImage(wav, cue, a.toInt(), b.toInt());

    const TFigure stalled = child("mp3", mp3, speeds.first(), stallMs);
    ok = ok && stalled.Seconds > 0;
    std::snprintf(line, sizeof line, "stall %d ms at %sx: longest event gap: %ld ms", stallMs,
                  speedText(speeds.first()).c_str(), stalled.GapMs);
    lines.emplace_back(line);
    if (!ok) {
        std::fprintf(stderr, "a measurement failed\n");
        return false;
    }
    for (const std::string& l : lines)
        std::printf("%s\n", l.c_str());
    std::printf("  (targets: MP3 at most 1.05, WAV at most 1.02, unpaced at most 1.01, gap at "
                "most 50 ms)\n");
    std::printf("  paced read at %sx: %.2f s for %d s of audio\n",
                speedText(speeds.first()).c_str(), kPacedMinutes * 60 / speeds.first(),
                kPacedMinutes * 60);
    std::printf("  WAV bytes are the image's: %s; MP3 bytes are a one-thread encoding's: %s\n",
                sameWav ? "yes" : "NO", sameMp3 ? "yes" : "NO");
    std::printf("  peak memory of the ripper: %.1f MB (target under 45 MB)\n", peak / 1024.0);
    QFile::remove(wav);
    QFile::remove(mp3);
    QFile::remove(ref);
    QFile::remove(lameMp3);
    return sameWav && sameMp3;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() >= 9 && args[1] == QStringLiteral("--child")) {
        QElapsedTimer t;
        t.start();
        const QString mode = args[2];
        const QString cue = args[3];
        const int first = args[4].toInt();
        const int last = args[5].toInt();
        const QString out = args[6];
        const double speed = args[7].toDouble();
        const int stall = args[8].toInt();
        qint64 gap = 0;
        int rc = 1;
        if (mode == QStringLiteral("read"))
            rc = ReadLoop(cue, first, last);
        else if (mode == QStringLiteral("readwrite"))
            rc = ReadLoop(cue, first, last, out);
        else if (mode == QStringLiteral("pacedread"))
            rc = PacedRead(cue, first, last, speed);
        else if (mode == QStringLiteral("reference"))
            rc = ReferenceMp3(cue, first, last, out);
        else
            rc = Rip(cue, first, last, mode == QStringLiteral("mp3"), out, speed, stall, gap);
        std::printf("%.3f %ld %lld\n", t.elapsed() / 1000.0, PeakKb(), qlonglong(gap));
        return rc;
    }

    int minutes = 74;
    QList<double> speeds = {24, 48};
    int stallMs = 3000;
    bool pacedOnly = false;
    for (int i = 1; i < args.size(); ++i) {
        const bool value = i + 1 < args.size();
        if (args[i] == QStringLiteral("--minutes") && value)
            minutes = std::max(kPacedMinutes, args[++i].toInt());
        else if (args[i] == QStringLiteral("--drive-speed") && value)
            speeds = {std::max(0.1, args[++i].toDouble())};
        else if (args[i] == QStringLiteral("--stall-ms") && value)
            stallMs = std::max(0, args[++i].toInt());
        else if (args[i] == QStringLiteral("--paced-only"))
            pacedOnly = true;
        else {
            std::fprintf(stderr, "usage: bench-rip [--minutes N] [--drive-speed X] [--stall-ms N] "
                                 "[--paced-only]\n");
            return 2;
        }
    }
    if (pacedOnly)
        minutes = kPacedMinutes;

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
    for (int r = 0; r < 2 && !pacedOnly; ++r) {
        const int first = ranges[r][0];
        const int last = ranges[r][1];
        const double seconds = (last - first + 1) / 75.0;
        const QString a = QString::number(first);
        const QString b = QString::number(last);
        const QString wav = dir.filePath(QStringLiteral("out.wav"));
        const QString mp3 = dir.filePath(QStringLiteral("out.mp3"));
        const QString lameMp3 = dir.filePath(QStringLiteral("lame.mp3"));
        auto child = [&](const char* mode, const QString& out) {
            return Child({QStringLiteral("--child"), QString::fromLatin1(mode), cue, a, b, out,
                          QStringLiteral("0"), QStringLiteral("0")});
        };

        std::printf("\n%d-minute range (%d sectors):\n", int(seconds / 60), last - first + 1);
        std::fflush(stdout);
        const TFigure read = child("read", QStringLiteral("-"));
        const TFigure readWrite = child("readwrite", wav);
        QFile::remove(wav);
        const TFigure toWav = child("wav", wav);
        const TFigure toMp3 = child("mp3", wav);
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
    if (ok && !pacedOnly)
        std::printf("\npeak memory of the ripper: %.1f MB (5 min) and %.1f MB (%d min); "
                    "target: equal, under 40 MB\n",
                    peaks[0] / 1024.0, peaks[1] / 1024.0, minutes);
    if (ok)
        ok = Paced(cue, dir, speeds, stallMs);
    return ok ? 0 : 1;
}
