#pragma once

#include "app/Exception.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What the program was asked to do on its command line, checked for form but not against the
// disc (track numbers and drive numbers are checked once the disc is read).

enum class TCliMode
{
    Help,
    Version,
    List,
    Rip
};

enum class TOverwrite
{
    Ask,    // ask on the terminal, as the window's job does
    Never,  // keep every existing file; its track counts as not ripped
    Always, // replace without asking
};

struct TCommandLine
{
    TCliMode Mode = TCliMode::Help;
    bool Mp3 = false; // --mp3; --wav leaves it false
    QString Tracks;   // the --tracks text; empty: every audio track
    QString OutDir;   // empty: the settings' output folder
    QString Drive;    // a drive number or a disc image / device path; empty: drive 0
    // The --drive value as given: a file name is bytes, which need not decode.
    QByteArray DriveBytes;
    bool OverwriteGiven = false;
    TOverwrite Overwrite = TOverwrite::Never;
    bool Quiet = false;
};

// A command line that cannot be carried out as written; the message names the argument.
class EUsageError : public Exception
{
public:
    using Exception::Exception;
};

// True when the program should open its window: no arguments at all, or only the options the
// windowing toolkit itself takes (a desktop session restarting the program passes -session and
// the like).
bool StartsWindow(const QStringList& args);

// `args` without the program name. Raises EUsageError.
TCommandLine ParseCommandLine(const QStringList& args);

// "all" or a list such as "1,3-5": the track numbers in ascending order, each once; an empty
// list for "all". Raises EUsageError naming `text`.
QList<int> ParseTrackList(const QString& text);

// The short usage text shown with every usage error, and the whole --help text.
QString UsageText();
QString HelpText();
