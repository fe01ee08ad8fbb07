#include "cli/Rip.h"

#include "app/CoderSettings.h"
#include "app/OutputFiles.h"
#include "app/globals.h"
#include "cd/CDRIP.h"
#include "cli/CommandLine.h"
#include "cli/Disc.h"
#include "cli/Interrupt.h"
#include "cli/Progress.h"
#include "mp3/LameCoder.h"
#include "mp3/MP3Info.h"

#include <QFileInfo>

#include <cstdio>
#include <exception>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int ExitOK = 0;
constexpr int ExitFailed = 1;

const QString StatusOK = u"OK"_s;
const QString StatusCancelled = u"Cancelled"_s;
const QString StatusFailed = u"Failed"_s;
const QString StatusKept = u"Kept"_s;
const QString NoAudioTrackSelected = u"No Audio Track Selected!"_s;
const QString ReplaceQuestion = u" already exists,do you want to replace it?"_s;

void Error(const QString& message)
{
    std::fprintf(stderr, "tarvik: %s\n", message.toLocal8Bit().constData());
    std::fflush(stderr);
}

void Warning(const QString& message)
{
    Error(u"warning: "_s + message);
}

QString Message(const std::exception& e)
{
    if (const auto* own = dynamic_cast<const Exception*>(&e))
        return own->Message();
    return QString::fromLocal8Bit(e.what());
}

enum class TAnswer
{
    Yes,
    No,
    All
};

// The window's question, asked on the terminal. The end of the input, or Ctrl-C, is a no.
TAnswer Ask(const QString& fileName)
{
    for (;;) {
        std::fprintf(stderr, "%s [y]es, [n]o, replace [a]ll: ",
                     (fileName + ReplaceQuestion).toLocal8Bit().constData());
        std::fflush(stderr);
        char answer[64];
        if (std::fgets(answer, sizeof(answer), stdin) == nullptr || TInterrupt::Signal() != 0) {
            std::fputc('\n', stderr);
            return TAnswer::No;
        }
        const QString text = QString::fromLocal8Bit(answer).trimmed().toLower();
        if (text == u"y"_s || text == u"yes"_s)
            return TAnswer::Yes;
        if (text == u"n"_s || text == u"no"_s)
            return TAnswer::No;
        if (text == u"a"_s || text == u"all"_s)
            return TAnswer::All;
    }
}

// The tracks to rip, as 0-based indexes of the disc's audio tracks in disc order.
QList<int> ChosenTracks(const TCommandLine& line, const TCDRIP& ripper)
{
    const int count = int(ripper.Tracks.size());
    QList<int> numbers = ParseTrackList(line.Tracks.isEmpty() ? u"all"_s : line.Tracks);
    const bool all = numbers.isEmpty();
    if (all) {
        for (int n = 1; n <= count; ++n)
            numbers << n;
    }
    QList<int> chosen;
    for (const int n : numbers) {
        if (n > count) {
            throw EUsageError(
                u"--tracks '%1': there is no track %2 on this disc (it has %3)"_s.arg(line.Tracks)
                    .arg(n)
                    .arg(count));
        }
        if (!ripper.IsAudioTrack(n - 1)) {
            if (!all)
                Warning(u"track %1 is a data track and is not ripped"_s.arg(n));
            continue;
        }
        chosen << n - 1;
    }
    return chosen;
}

} // namespace

int RipTracks(const TCommandLine& line)
{
    try {
        LoadSettings();
    } catch (const std::exception& e) {
        // The built-in settings still make a good rip; the user is told why theirs are not used.
        Warning(Message(e));
    }

    TDisc disc(line.Drive, line.DriveBytes);
    disc.Load();
    TCDRIP& ripper = disc.Ripper();
    ripper.ReadOffset = Settings.ReadOffset;
    if (ripper.Tracks.empty()) {
        Error(u"there is no disc in drive %1 (%2), or it cannot be read"_s.arg(disc.Number())
                  .arg(disc.Name()));
        return ExitFailed;
    }
    const QList<int> chosen = ChosenTracks(line, ripper);
    if (chosen.isEmpty()) {
        Error(NoAudioTrackSelected);
        return ExitFailed;
    }
    const QStringList titles = disc.Titles();

    // A folder typed on the command line is where the user stands, as for any command; only
    // the settings' folder must be a full path.
    QString outDir = line.OutDir.isEmpty() ? Settings.OutDir : line.OutDir;
    if (!line.OutDir.trimmed().isEmpty() && !line.OutDir.trimmed().startsWith(u'~'))
        outDir = QFileInfo(line.OutDir.trimmed()).absoluteFilePath();
    QString folder;
    try {
        folder = OutputFolderPath(outDir);
    } catch (const std::exception& e) {
        Error(Message(e) + u", or give one with --out"_s);
        return ExitFailed;
    }
    TOutputFiles plan(folder);
    if (const QString problem = plan.FolderProblem(); !problem.isEmpty()) {
        Error(u"The output folder %1 cannot be made: %2"_s.arg(folder, problem));
        return ExitFailed;
    }

    TOverwrite overwrite = line.Overwrite;
    if (!line.OverwriteGiven)
        overwrite = ::isatty(STDIN_FILENO) ? TOverwrite::Ask : TOverwrite::Never;

    TLameCoder coder;
    ripper.SetCoder(&coder);
    ApplyMP3Settings(coder);
    ripper.WriteWAV = true;
    ripper.Encode = line.Mp3;
    TMP3Info tag;

    TProgress progress(stdout, ::isatty(STDOUT_FILENO) != 0, line.Quiet);
    ripper.OnProgress = [&](QObject*, uint16_t percent) { progress.Update(percent); };
    TInterrupt interrupt;
    interrupt.OnInterrupt = [&] { ripper.AbortRip(); };

    int failed = 0;
    for (int k = 0; k < chosen.size() && TInterrupt::Signal() == 0; ++k) {
        const int index = chosen[k];
        const TTrack& track = *ripper.Tracks[size_t(index)].second;
        const QString& title = titles[index];
        QString name;
        try {
            name = plan.NameFor(title, line.Mp3 ? u".mp3"_s : u".wav"_s);
        } catch (const std::exception& e) {
            Error(Message(e));
            ++failed;
            continue;
        }

        if (plan.Exists(name) && overwrite != TOverwrite::Always) {
            const TAnswer answer = overwrite == TOverwrite::Ask ? Ask(name) : TAnswer::No;
            if (answer == TAnswer::All)
                overwrite = TOverwrite::Always;
            if (answer == TAnswer::No) {
                if (TInterrupt::Signal() != 0)
                    break;
                Warning(name + u" already exists and is not replaced"_s);
                progress.Begin(k + 1, int(chosen.size()), title, name, 0);
                progress.End(StatusKept, name);
                ++failed;
                continue;
            }
        }

        progress.Begin(k + 1, int(chosen.size()), title, name,
                       track.EndSector - track.StartSector + 1);
        QString status = StatusOK, problem;
        try {
            if (!plan.Rip(ripper, index + 1, name, line.Mp3 ? &tag : nullptr, title)) {
                status = StatusFailed;
                problem =
                    u"track %1 could not be read from the disc; no file was made"_s.arg(index + 1);
            } else if (ripper.Aborted) {
                status = StatusCancelled;
            }
        } catch (const std::exception& e) {
            status = StatusFailed;
            problem = Message(e);
        }
        // The result closes the track's bar before any message, so neither tears the other.
        progress.End(status, status == StatusFailed ? QString() : name);
        if (!problem.isEmpty())
            Error(problem);
        if (status == StatusFailed)
            ++failed;
    }

    ripper.OnProgress = nullptr;
    ripper.SetCoder(nullptr);
    if (const int signal = TInterrupt::Signal())
        return 128 + signal;
    return failed > 0 ? ExitFailed : ExitOK;
}
