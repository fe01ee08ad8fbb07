// Prints how long the skin's pictures take to decode, one by one and all together, and the
// throughput of the decoder on the 640 x 480 face.
#include "platform/DataFiles.h"
#include "platform/jpeg/Jpeg.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QString folder = QFileInfo(FindDataFile(QStringLiteral("skin/background.jpg"))).path();
    if (folder.isEmpty() || !QFileInfo::exists(folder + QStringLiteral("/background.jpg"))) {
        std::fprintf(stderr, "bench-skin: the skin is not beside the program\n");
        return 1;
    }
    const QStringList files =
        QDir(folder).entryList({QStringLiteral("*.jpg")}, QDir::Files, QDir::Name);
    QList<QByteArray> data;
    qint64 bytes = 0;
    for (const QString& f : files) {
        QFile file(folder + QLatin1Char('/') + f);
        if (!file.open(QIODevice::ReadOnly))
            return 1;
        data.append(file.readAll());
        bytes += data.last().size();
    }

    constexpr int Rounds = 50;
    QElapsedTimer timer;
    timer.start();
    qint64 pixels = 0;
    for (int r = 0; r < Rounds; ++r)
        for (const QByteArray& d : data) {
            const QImage img = LoadJpegImageFromData(d);
            pixels += qint64(img.width()) * img.height();
        }
    const double allMs = timer.nsecsElapsed() / 1e6 / Rounds;

    const int face = int(files.indexOf(QStringLiteral("background.jpg")));
    timer.restart();
    for (int r = 0; r < Rounds; ++r)
        LoadJpegImageFromData(data[face]);
    const double faceMs = timer.nsecsElapsed() / 1e6 / Rounds;

    timer.restart();
    for (int r = 0; r < Rounds; ++r)
        LoadJpegImage(folder + QStringLiteral("/background.jpg"));
    const double faceFileMs = timer.nsecsElapsed() / 1e6 / Rounds;

    std::printf("skin pictures:             %lld files, %.1f KiB\n", qlonglong(files.size()),
                bytes / 1024.0);
    std::printf("decode all, from memory:   %.2f ms (%.1f Mpixel/s)\n", allMs,
                pixels / double(Rounds) / (allMs * 1000.0));
    std::printf("decode the face (640x480): %.2f ms from memory, %.2f ms from file\n", faceMs,
                faceFileMs);
    return 0;
}
