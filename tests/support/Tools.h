#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Runs the outside programs the tests check our files with (sox, mpg123, python3 with mutagen).
struct TToolResult
{
    int ExitCode = -1;
    QByteArray Out;
    QByteArray Err;
};

// Runs `program` with `args`, feeding `input` on standard input; waits at most `timeoutMs`.
TToolResult RunTool(const QString& program, const QStringList& args, const QByteArray& input = {},
                    int timeoutMs = 120000);

// True when `program` is on the PATH.
bool HaveTool(const QString& program);

// The Python interpreter that carries Debian's mutagen: /usr/bin/python3 when present, since
// a python3 earlier on the PATH (pyenv, a virtual environment) may not see it.
QString MutagenPython();

// Runs a Python snippet with the given arguments (sys.argv[1:]).
TToolResult RunPython(const QString& code, const QStringList& args = {});
