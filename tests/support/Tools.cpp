#include "support/Tools.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

TToolResult RunTool(const QString& program, const QStringList& args, const QByteArray& input,
                    int timeoutMs)
{
    TToolResult result;
    QProcess process;
    process.start(program, args);
    if (!process.waitForStarted(10000))
        return result;
    if (!input.isEmpty())
        process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return result;
    }
    result.Out = process.readAllStandardOutput();
    result.Err = process.readAllStandardError();
    result.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    return result;
}

bool HaveTool(const QString& program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

TToolResult RunPython(const QString& code, const QStringList& args)
{
    // The checks need Debian's mutagen, which a python3 earlier on the PATH (pyenv, a virtual
    // environment) may not see.
    const QString system = QStringLiteral("/usr/bin/python3");
    const QString python = QFileInfo::exists(system) ? system : QStringLiteral("python3");
    return RunTool(python, QStringList{QStringLiteral("-c"), code} + args);
}
