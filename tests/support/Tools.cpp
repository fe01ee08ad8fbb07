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
    return RunTool(MutagenPython(), QStringList{QStringLiteral("-c"), code} + args);
}

QString MutagenPython()
{
    const QString system = QStringLiteral("/usr/bin/python3");
    return QFileInfo(system).isExecutable() ? system : QStringLiteral("python3");
}
