// Streams minutes of generated music through the encoder component and through Debian's `lame`
// command-line encoder with the same settings, from the same raw PCM file to an MP3 file each,
// and prints both realtime factors, their ratio and whether the two files are byte-identical.
//
//   bench-encode [--minutes N] [--runs N] [--cbr]
//
// Settings: those a new user starts with (VBR quality 5 from 128 to 320 kbit/s, stereo, CRC,
// the header frame), or with --cbr 128 kbit/s constant bitrate with the header frame.
#include "TestSignal.h"

#include "mp3/LameCoder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QStringList>
#include <QTemporaryDir>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct TTiming
{
    double Wall = 0; // seconds
    double Cpu = 0;  // seconds
    bool Ok = false;
};

double CpuSeconds(int who)
{
    rusage u{};
    getrusage(who, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

long PeakKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    return -1;
}

bool WriteSignal(const QString& path, uint64_t frames)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    std::vector<int16_t> piece(testsignal::SampleRate * testsignal::Channels);
    for (uint64_t first = 0; first < frames; first += testsignal::SampleRate) {
        const auto n =
            static_cast<size_t>(std::min<uint64_t>(testsignal::SampleRate, frames - first));
        testsignal::Render(piece.data(), first, n, frames);
        const auto bytes = static_cast<qint64>(n * testsignal::Channels * 2);
        if (file.write(reinterpret_cast<const char*>(piece.data()), bytes) != bytes)
            return false;
    }
    return true;
}

void Configure(TLameCoder& coder, bool cbr)
{
    coder.SetSampleRate(44100);
    coder.SetBitrate(128);
    coder.SetMaxBitrate(320);
    coder.SetMode(STEREO);
    coder.SetQuality(NORMAL_QUALITY);
    coder.SetVBRQuality(5);
    coder.SetEnableVBR(cbr ? 0 : -1);
    coder.SetWriteVBRHeader(-1);
    coder.SetCopyright(0);
    coder.SetOriginal(0);
    coder.SetCRC(-1);
    coder.SetPrivate(0);
}

// The same settings in the command line's words. Its defaults differ from the component's in
// joint stereo, the original bit and ReplayGain, so those are spelled out.
QStringList LameFlags(bool cbr)
{
    QStringList flags = {QStringLiteral("-r"),
                         QStringLiteral("-s"),
                         QStringLiteral("44.1"),
                         QStringLiteral("--bitwidth"),
                         QStringLiteral("16"),
                         QStringLiteral("--signed"),
                         QStringLiteral("--little-endian"),
                         QStringLiteral("-m"),
                         QStringLiteral("s"),
                         QStringLiteral("-q"),
                         QStringLiteral("3"),
                         QStringLiteral("-b"),
                         QStringLiteral("128"),
                         QStringLiteral("-p"),
                         QStringLiteral("-o"),
                         QStringLiteral("--noreplaygain"),
                         QStringLiteral("--silent")};
    if (!cbr)
        flags << QStringLiteral("-V") << QStringLiteral("5") << QStringLiteral("-B")
              << QStringLiteral("320");
    return flags;
}

TTiming RunComponent(const QString& raw, const QString& mp3, bool cbr)
{
    TTiming t;
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    QElapsedTimer clock;
    clock.start();

    TLameCoder coder;
    Configure(coder, cbr);
    coder.SetPCMFormat(testsignal::SampleRate, testsignal::Channels);
    QFile in(raw);
    QFile out(mp3);
    if (!in.open(QIODevice::ReadOnly) || !out.open(QIODevice::WriteOnly) || coder.OpenStream() != 0)
        return t;
    std::vector<int16_t> pcm(coder.SamplesPerChunk());
    std::vector<uint8_t> buffer(coder.OutputBufferSize());
    bool ok = true;
    for (;;) {
        const qint64 got =
            in.read(reinterpret_cast<char*>(pcm.data()), static_cast<qint64>(pcm.size() * 2));
        if (got <= 0)
            break;
        uint32_t bytes = 0;
        const auto samples = static_cast<uint32_t>(got / 4 * 2);
        ok = ok && coder.EncodeChunk(pcm.data(), samples, buffer.data(), &bytes) == 0 &&
             out.write(reinterpret_cast<const char*>(buffer.data()), bytes) == bytes;
    }
    uint32_t bytes = 0;
    ok = coder.FlushStream(buffer.data(), &bytes) == 0 && ok &&
         out.write(reinterpret_cast<const char*>(buffer.data()), bytes) == bytes;
    const QByteArray header = coder.VBRHeaderFrame();
    coder.CloseStream();
    if (!header.isEmpty())
        ok = ok && out.seek(0) && out.write(header) == header.size();
    out.close();

    t.Wall = clock.nsecsElapsed() / 1e9;
    t.Cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
    t.Ok = ok && out.error() == QFileDevice::NoError;
    return t;
}

TTiming RunLame(const QString& lame, const QString& raw, const QString& mp3, bool cbr)
{
    TTiming t;
    const double cpu0 = CpuSeconds(RUSAGE_CHILDREN);
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(lame, LameFlags(cbr) << raw << mp3);
    if (!process.waitForStarted() || !process.waitForFinished(-1))
        return t;
    // It warns about raw input on every run; only a failure's words matter.
    if (process.exitCode() != 0)
        std::fprintf(stderr, "%s", process.readAllStandardError().constData());
    t.Wall = clock.nsecsElapsed() / 1e9;
    t.Cpu = CpuSeconds(RUSAGE_CHILDREN) - cpu0;
    t.Ok = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return t;
}

// The best wall and the best processor time of the runs, each on its own: other work on the
// machine only ever makes a run slower.
void Keep(TTiming& best, const TTiming& run)
{
    best.Wall = std::min(best.Wall, run.Wall);
    best.Cpu = std::min(best.Cpu, run.Cpu);
    best.Ok = true;
}

bool SameFiles(const QString& a, const QString& b)
{
    QFile fa(a);
    QFile fb(b);
    if (!fa.open(QIODevice::ReadOnly) || !fb.open(QIODevice::ReadOnly) || fa.size() != fb.size())
        return false;
    while (!fa.atEnd())
        if (fa.read(1 << 20) != fb.read(1 << 20))
            return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    double minutes = 10;
    int runs = 2;
    bool cbr = false;
    const QStringList args = QCoreApplication::arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args.at(i) == QStringLiteral("--minutes") && i + 1 < args.size())
            minutes = std::clamp(args.at(++i).toDouble(), 0.1, 120.0);
        else if (args.at(i) == QStringLiteral("--runs") && i + 1 < args.size())
            runs = std::clamp(args.at(++i).toInt(), 1, 10);
        else if (args.at(i) == QStringLiteral("--cbr"))
            cbr = true;
        else {
            std::fprintf(stderr, "usage: bench-encode [--minutes N] [--runs N] [--cbr]\n");
            return 2;
        }
    }

    QTemporaryDir dir;
    const QString raw = dir.filePath(QStringLiteral("signal.raw"));
    const auto frames = static_cast<uint64_t>(minutes * 60 * testsignal::SampleRate);
    const double seconds = static_cast<double>(frames) / testsignal::SampleRate;
    if (!dir.isValid() || !WriteSignal(raw, frames)) {
        std::fprintf(stderr, "bench-encode: cannot write the signal into %s\n",
                     qPrintable(dir.path()));
        return 1;
    }
    const QString lame = QStandardPaths::findExecutable(QStringLiteral("lame"));
    std::printf("encode: %.1f min of 44.1 kHz stereo PCM, %s, best of %d run(s)\n", minutes,
                cbr ? "CBR 128 kbit/s" : "VBR quality 5, 128-320 kbit/s, CRC, header frame", runs);

    TTiming best{1e300, 1e300, false};
    TTiming bestLame{1e300, 1e300, false};
    const QString ours = dir.filePath(QStringLiteral("component.mp3"));
    const QString theirs = dir.filePath(QStringLiteral("lame.mp3"));
    for (int run = 0; run < runs; ++run) {
        if (!lame.isEmpty()) {
            const TTiming t = RunLame(lame, raw, theirs, cbr);
            if (!t.Ok) {
                std::fprintf(stderr, "bench-encode: lame failed\n");
                return 1;
            }
            Keep(bestLame, t);
        }
        const TTiming t = RunComponent(raw, ours, cbr);
        if (!t.Ok) {
            std::fprintf(stderr, "bench-encode: the component failed\n");
            return 1;
        }
        Keep(best, t);
    }

    std::printf("  component      %7.2f s wall  %7.2f s cpu  %6.1fx realtime\n", best.Wall,
                best.Cpu, seconds / best.Wall);
    if (!lame.isEmpty()) {
        std::printf("  lame           %7.2f s wall  %7.2f s cpu  %6.1fx realtime\n", bestLame.Wall,
                    bestLame.Cpu, seconds / bestLame.Wall);
        std::printf("  ratio          %.3f wall, %.3f cpu (component's speed / lame's; 1 = as "
                    "fast)\n",
                    bestLame.Wall / best.Wall, bestLame.Cpu / best.Cpu);
        std::printf("  output         %s\n",
                    SameFiles(ours, theirs) ? "byte-identical" : "DIFFERENT from lame's");
    } else {
        std::printf("  lame           not installed: no comparison\n");
    }
    std::printf("  peak memory    %ld KiB (the whole process)\n", PeakKiB());
    return 0;
}
