#include "cli/CommandLine.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// The toolkit's own window options, with and without a value. They may come with one dash or
// two, and a value either as the next argument or after "=".
const QStringList ToolkitOptionsWithValue = {u"platform"_s,
                                             u"platformpluginpath"_s,
                                             u"platformtheme"_s,
                                             u"plugin"_s,
                                             u"qmljsdebugger"_s,
                                             u"qwindowgeometry"_s,
                                             u"qwindowicon"_s,
                                             u"qwindowtitle"_s,
                                             u"session"_s,
                                             u"display"_s,
                                             u"geometry"_s,
                                             u"style"_s,
                                             u"stylesheet"_s,
                                             u"name"_s,
                                             u"title"_s,
                                             u"fontengine"_s,
                                             u"dialogs"_s,
                                             u"visual"_s,
                                             u"im"_s};
const QStringList ToolkitFlags = {u"reverse"_s, u"widgetcount"_s, u"nograb"_s, u"dograb"_s,
                                  u"sync"_s};

QString Bare(const QString& arg)
{
    QString name = arg.mid(arg.startsWith(u"--"_s) ? 2 : 1);
    const qsizetype eq = name.indexOf(u'=');
    return eq >= 0 ? name.left(eq) : name;
}

[[noreturn]] void Usage(const QString& message)
{
    throw EUsageError(message);
}

} // namespace

bool StartsWindow(const QStringList& args)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        if (!arg.startsWith(u'-') || arg.size() < 2)
            return false;
        const QString name = Bare(arg);
        if (ToolkitFlags.contains(name))
            continue;
        if (!ToolkitOptionsWithValue.contains(name))
            return false;
        if (!arg.contains(u'=') && ++i >= args.size())
            return false;
    }
    return true;
}

TCommandLine ParseCommandLine(const QStringList& args)
{
    TCommandLine line;
    QString mode, format, tracks, out, drive, overwrite;
    bool quiet = false;

    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        QString value;
        bool inlineValue = false;
        if (arg.startsWith(u"--"_s)) {
            const qsizetype eq = arg.indexOf(u'=');
            if (eq > 0) {
                value = arg.mid(eq + 1);
                arg = arg.left(eq);
                inlineValue = true;
            }
        }
        auto takeValue = [&](QString& into) {
            if (!into.isNull())
                Usage(u"option '%1' is given twice"_s.arg(arg));
            if (!inlineValue) {
                if (i + 1 >= args.size() || args[i + 1].startsWith(u"--"_s))
                    Usage(u"option '%1' needs a value"_s.arg(arg));
                value = args[++i];
            }
            if (value.isEmpty())
                Usage(u"option '%1' needs a value"_s.arg(arg));
            into = value;
        };
        auto noValue = [&] {
            if (inlineValue)
                Usage(u"option '%1' takes no value"_s.arg(arg));
        };

        if (arg == u"--help"_s || arg == u"-h"_s || arg == u"--version"_s || arg == u"--list"_s ||
            arg == u"--rip"_s) {
            noValue();
            if (!mode.isEmpty())
                Usage(mode == arg ? u"option '%1' is given twice"_s.arg(arg)
                                  : u"options '%1' and '%2' cannot be combined"_s.arg(mode, arg));
            mode = arg;
        } else if (arg == u"--mp3"_s || arg == u"--wav"_s) {
            noValue();
            if (!format.isEmpty())
                Usage(format == arg
                          ? u"option '%1' is given twice"_s.arg(arg)
                          : u"the format is given twice: '%1' and '%2'"_s.arg(format, arg));
            format = arg;
        } else if (arg == u"--tracks"_s) {
            takeValue(tracks);
        } else if (arg == u"--out"_s) {
            takeValue(out);
        } else if (arg == u"--drive"_s) {
            takeValue(drive);
        } else if (arg == u"--overwrite"_s) {
            takeValue(overwrite);
        } else if (arg == u"--quiet"_s || arg == u"-q"_s) {
            noValue();
            quiet = true;
        } else if (arg.startsWith(u'-') && arg.size() > 1) {
            Usage(u"unknown option '%1'"_s.arg(arg));
        } else {
            Usage(u"unexpected argument '%1'"_s.arg(arg));
        }
    }

    if (mode.isEmpty())
        Usage(u"tell what to do: --list, --rip, --help or --version"_s);
    if (mode == u"--help"_s || mode == u"-h"_s) {
        line.Mode = TCliMode::Help;
        return line;
    }
    if (mode == u"--version"_s) {
        line.Mode = TCliMode::Version;
        return line;
    }

    const bool rip = mode == u"--rip"_s;
    line.Mode = rip ? TCliMode::Rip : TCliMode::List;
    // Options that only a rip uses are refused with --list rather than silently ignored.
    if (!rip) {
        for (const auto& [given, name] :
             {std::pair{format, format}, std::pair{tracks, u"--tracks"_s},
              std::pair{out, u"--out"_s}, std::pair{overwrite, u"--overwrite"_s}}) {
            if (!given.isEmpty())
                Usage(u"option '%1' belongs to --rip, not to --list"_s.arg(name));
        }
        if (quiet)
            Usage(u"option '--quiet' belongs to --rip, not to --list"_s);
    }
    if (rip && format.isEmpty())
        Usage(u"--rip needs a format: --mp3 or --wav"_s);
    line.Mp3 = format == u"--mp3"_s;
    if (!tracks.isEmpty())
        ParseTrackList(tracks);
    line.Tracks = tracks;
    line.OutDir = out;
    line.Drive = drive;
    if (!overwrite.isEmpty()) {
        line.OverwriteGiven = true;
        if (overwrite == u"ask"_s)
            line.Overwrite = TOverwrite::Ask;
        else if (overwrite == u"never"_s)
            line.Overwrite = TOverwrite::Never;
        else if (overwrite == u"always"_s)
            line.Overwrite = TOverwrite::Always;
        else
            Usage(u"--overwrite '%1': choose ask, never or always"_s.arg(overwrite));
    }
    line.Quiet = quiet;
    return line;
}

QList<int> ParseTrackList(const QString& text)
{
    if (text == u"all"_s)
        return {};
    const auto bad = [&] {
        Usage(u"--tracks '%1': give 'all' or track numbers such as 1,3-5"_s.arg(text));
    };
    auto number = [&](const QString& part) {
        bool ok = false;
        const int n = part.toInt(&ok);
        // Plain digits only: no sign, no blanks, nothing a disc cannot number.
        if (!ok || part.isEmpty() ||
            !std::all_of(part.begin(), part.end(),
                         [](QChar c) { return c.isDigit() && c.unicode() < 128; }) ||
            n < 1 || n > 99)
            bad();
        return n;
    };
    QList<int> result;
    for (const QString& item : text.split(u',')) {
        const qsizetype dash = item.indexOf(u'-');
        if (dash < 0) {
            result << number(item);
            continue;
        }
        const int first = number(item.left(dash));
        const int last = number(item.mid(dash + 1));
        if (last < first)
            bad();
        for (int n = first; n <= last; ++n)
            result << n;
    }
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

QString UsageText()
{
    return u"Usage: tarvik [--help | --version]\n"
           "       tarvik --list [--drive N|PATH]\n"
           "       tarvik --rip --mp3|--wav [--tracks all|LIST] [--out DIR] [--drive N|PATH]\n"
           "                    [--overwrite ask|never|always] [--quiet]\n"
           "Without arguments Tarvik opens its window.\n"_s;
}

QString HelpText()
{
    return UsageText() +
           u"\n"
           "Rips the audio tracks of a CD, or of a disc image, to WAV files or to MP3 files\n"
           "with an ID3v1 title tag, without opening a window.\n"
           "\n"
           "  --list                 list the drives (numbered from 0), then the tracks of the\n"
           "                         chosen drive: number, type, start sector, duration, title\n"
           "  --rip                  rip the chosen audio tracks\n"
           "  --mp3, --wav           the format of the files (one of them, once)\n"
           "  --tracks all|LIST      the tracks to rip, e.g. 1,3-5 (default: every audio track)\n"
           "  --out DIR              the output folder (default: the one set in the options)\n"
           "  --drive N|PATH         a drive number from --list, or the path of a disc image\n"
           "                         (.cue, .toc, .nrg) or device (default: 0)\n"
           "  --overwrite ask|never|always\n"
           "                         what to do with a file that already exists (default: ask\n"
           "                         on a terminal, never otherwise)\n"
           "  --quiet                no progress, only errors and warnings\n"
           "  --help                 show this text\n"
           "  --version              show the version\n"
           "\n"
           "Titles come from the album information saved in the window, else from the disc's\n"
           "CD-Text, else Track01, Track02, ...  The MP3 settings are those of the options.\n"
           "\n"
           "Exit status: 0 every chosen track was ripped; 1 a track failed or was not\n"
           "replaced; 2 usage error; 130 stopped by Ctrl-C.\n"_s;
}
