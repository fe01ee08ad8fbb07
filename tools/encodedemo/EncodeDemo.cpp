// Encodes the built-in test signal with the encoder component's defaults into the user's Music
// folder as "Tarvik test signal.mp3" and says where it went.
#include "TestSignal.h"

#include "mp3/LameCoder.h"

#include <QCoreApplication>
#include <QDir>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>
#include <vector>

namespace {

constexpr double kSeconds = 10.0;
const char* const kFileName = "Tarvik test signal.mp3";

int Fail(const QString& message)
{
    std::fprintf(stderr, "tarvik-encode-demo: %s\n", qPrintable(message));
    return 1;
}

QString MusicFolder()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (folder.isEmpty())
        folder = QDir::home().filePath(QStringLiteral("Music"));
    return folder;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik"));

    const QString folder = MusicFolder();
    if (!QDir().mkpath(folder))
        return Fail(QStringLiteral("cannot create the folder %1").arg(folder));
    const QString path = QDir(folder).filePath(QString::fromLatin1(kFileName));

    TLameCoder coder;
    coder.SetPCMFormat(testsignal::SampleRate, testsignal::Channels);
    const int32_t opened = coder.OpenStream();
    if (opened != 0)
        return Fail(QStringLiteral("the encoder did not start (error %1)").arg(opened));

    // Written beside the target and renamed over it only when complete, so an interrupted run
    // never leaves half a file under the real name.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        uint32_t bytes = 0;
        std::vector<uint8_t> out(coder.OutputBufferSize());
        coder.FlushStream(out.data(), &bytes);
        coder.CloseStream();
        return Fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    }

    const std::vector<int16_t> pcm = testsignal::Make(kSeconds);
    std::vector<uint8_t> out(coder.OutputBufferSize());
    const size_t chunk = coder.SamplesPerChunk();
    bool ok = true;
    for (size_t pos = 0; ok && pos < pcm.size(); pos += chunk) {
        const auto n = static_cast<uint32_t>(std::min(chunk, pcm.size() - pos));
        uint32_t bytes = 0;
        ok = coder.EncodeChunk(pcm.data() + pos, n, out.data(), &bytes) == 0 &&
             file.write(reinterpret_cast<const char*>(out.data()), bytes) == bytes;
    }
    uint32_t bytes = 0;
    ok = coder.FlushStream(out.data(), &bytes) == 0 && ok &&
         file.write(reinterpret_cast<const char*>(out.data()), bytes) == bytes;
    const QByteArray header = coder.VBRHeaderFrame();
    coder.CloseStream();
    if (ok && !header.isEmpty())
        ok = file.seek(0) && file.write(header) == header.size();
    if (!ok) {
        file.cancelWriting();
        return Fail(QStringLiteral("writing %1 failed: %2").arg(path, file.errorString()));
    }
    if (!file.commit())
        return Fail(QStringLiteral("writing %1 failed: %2").arg(path, file.errorString()));

    const QString mode = coder.Mode() == MONO ? QStringLiteral("mono") : QStringLiteral("stereo");
    std::printf("Encoded %.0f seconds of test signal (%u Hz %s, %u kbit/s) to:\n%s\n", kSeconds,
                coder.SampleRate(), qPrintable(mode), coder.Bitrate(), qPrintable(path));
    return 0;
}
