// Times the settings file and the album information file: a fresh settings file, one buried in
// 10 MB of other sections, and the save and read of a 99-track disc in an album file that
// already holds 2000 discs. Works in a temporary configuration folder.
#include "app/globals.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <functional>

namespace {

double Milliseconds(int runs, const std::function<void()>& run)
{
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < runs; ++i)
        run();
    return double(timer.nsecsElapsed()) / 1e6 / runs;
}

void Write(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
}

} // namespace

int main(int argc, char** argv)
{
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarvik"));
    SetDefaultSettings();

    const QString settings = SettingsFileName();
    QFile::remove(settings);
    LoadSettings(); // first start: writes the defaults
    std::printf("settings file, 14 keys:          load %8.3f ms   save %8.3f ms\n",
                Milliseconds(50, [] { LoadSettings(); }), Milliseconds(50, [] {
                    Settings.BitRates ^= 1; // a real change, so the file is written
                    SaveSettings();
                }));

    QByteArray big;
    for (int i = 0; big.size() < 10 * 1024 * 1024; ++i)
        big += "[S" + QByteArray::number(i) + "]\nkey=" + QByteArray(1000, 'v') + "\n";
    Write(settings, big);
    std::printf("settings file behind 10 MB:      load %8.3f ms   save %8.3f ms\n",
                Milliseconds(3, [] { LoadSettings(); }), Milliseconds(3, [] {
                    Settings.BitRates ^= 1;
                    SaveSettings();
                }));

    QByteArray albums;
    for (int disc = 0; disc < 2000; ++disc) {
        albums += "[" + QByteArray::number(0x10000000 + disc, 16) + "]\nartist=\nalbum=\n";
        for (int t = 0; t < 12; ++t)
            albums +=
                QByteArray::number(t) + "=Some Track Title Number " + QByteArray::number(t) + "\n";
    }
    Write(AlbumInfoFileName(), albums);
    QStringList titles;
    for (int t = 0; t < 99; ++t)
        titles.append(QStringLiteral("A Track Title of Usual Length %1").arg(t));
    int round = 0;
    const double save = Milliseconds(10, [&] {
        titles[0] = QString::number(++round); // a real change each time
        WriteAlbumInfo(QStringLiteral("7a0b2c63"), {}, {}, {}, {}, &titles);
    });
    QString artist, title, year, genre;
    QStringList names;
    const double read = Milliseconds(
        20, [&] { ReadAlbumInfo(QStringLiteral("7a0b2c63"), artist, title, year, genre, names); });
    std::printf("99-track disc among 2000 (%.1f MB): save %8.3f ms   read %8.3f ms (%lld titles)\n",
                double(QFile(AlbumInfoFileName()).size()) / 1e6, save, read,
                static_cast<long long>(names.size()));
    return 0;
}
