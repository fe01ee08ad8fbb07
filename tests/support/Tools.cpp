#include "support/Tools.h"

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
    return RunTool(QStringLiteral("python3"), QStringList{QStringLiteral("-c"), code} + args);
}
