#include "cli/Cli.h"

#include "app/globals.h"
#include "cd/CDRIP.h"
#include "cli/CommandLine.h"
#include "cli/Disc.h"
#include "cli/Rip.h"

#include <QCoreApplication>
#include <QStringList>

#include <cstdio>
#include <exception>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString ExceptionMessage(const std::exception& e)
{
    if (const auto* own = dynamic_cast<const Exception*>(&e))
        return own->Message();
    return QString::fromLocal8Bit(e.what());
}

constexpr int ExitOK = 0;
constexpr int ExitFailed = 1;
constexpr int ExitUsage = 2;

// The --drive value as the bytes of the command line, before any decoding.
QByteArray DriveArgument(int argc, char** argv)
{
    QByteArray value;
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--drive" && i + 1 < argc)
            value = argv[++i];
        else if (arg.startsWith("--drive="))
            value = arg.mid(8);
    }
    return value;
}

void Print(std::FILE* to, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), to);
    std::fflush(to);
}

int List(const TCommandLine& line)
{
    TDisc disc(line.Drive, line.DriveBytes);
    TCDRIP& ripper = disc.Ripper();
    QString out = u"Drives:\n"_s;
    const QStringList drives = disc.DriveNames();
    for (int i = 0; i < drives.size(); ++i)
        out += u"  %1  %2\n"_s.arg(i).arg(drives[i]);
    if (drives.isEmpty()) {
        // Why (a named image that cannot be used, say) is already on standard error.
        Print(stdout, out + u"  (none)\n"_s);
        return ExitFailed;
    }
    Print(stdout, out);

    disc.Load();
    out = u"\nDrive %1: %2\n"_s.arg(disc.Number()).arg(disc.Name());
    if (ripper.Tracks.empty()) {
        Print(stdout, out + u"No disc in the drive, or it cannot be read.\n"_s);
        return ExitOK;
    }
    if (!ripper.CDTextAlbum.isEmpty() || !ripper.CDTextPerformer.isEmpty()) {
        out += u"Disc: %1%2\n"_s.arg(ripper.CDTextAlbum, ripper.CDTextPerformer.isEmpty()
                                                             ? QString()
                                                             : u" / "_s + ripper.CDTextPerformer);
    }
    out += u"No.  Type   Start  Duration  Title\n"_s;
    const QStringList titles = disc.Titles();
    for (int i = 0; i < int(ripper.Tracks.size()); ++i) {
        const TTrack& track = *ripper.Tracks[size_t(i)].second;
        out += u"%1  %2 %3  %4  %5\n"_s.arg(TwoDigits(uint16_t(i + 1)), 3)
                   .arg(ripper.IsAudioTrack(i) ? u"audio"_s : u"data"_s, -5)
                   .arg(track.StartSector, 6)
                   .arg(ripper.GetTrackDuration(i), 8)
                   .arg(titles.value(i));
    }
    Print(stdout, out);
    return ExitOK;
}

} // namespace

const char* TarvikVersion()
{
    return TARVIK_VERSION;
}

int RunCommandLine(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    // Names the configuration folder (~/.config/tarvik), shared with the window.
    QCoreApplication::setApplicationName(u"tarvik"_s);
    QCoreApplication::setApplicationVersion(QString::fromLatin1(TARVIK_VERSION));

    TCommandLine line;
    try {
        line = ParseCommandLine(QCoreApplication::arguments().mid(1));
        line.DriveBytes = DriveArgument(argc, argv);
    } catch (const EUsageError& e) {
        Print(stderr,
              u"tarvik: %1\n%2Try 'tarvik --help' for more.\n"_s.arg(e.Message(), UsageText()));
        return ExitUsage;
    }

    try {
        switch (line.Mode) {
        case TCliMode::Help:
            Print(stdout, HelpText());
            return ExitOK;
        case TCliMode::Version:
            Print(stdout, u"tarvik %1\n"_s.arg(QString::fromLatin1(TARVIK_VERSION)));
            return ExitOK;
        case TCliMode::List:
            return List(line);
        case TCliMode::Rip:
            return RipTracks(line);
        }
    } catch (const EUsageError& e) {
        Print(stderr,
              u"tarvik: %1\n%2Try 'tarvik --help' for more.\n"_s.arg(e.Message(), UsageText()));
        return ExitUsage;
    } catch (const std::exception& e) {
        Print(stderr, u"tarvik: %1\n"_s.arg(ExceptionMessage(e)));
        return ExitFailed;
    }
    return ExitFailed;
}
