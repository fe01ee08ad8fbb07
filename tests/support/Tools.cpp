#include "support/Tools.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <vector>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

// The child is started by posix_spawn rather than QProcess: QProcess makes it share this
// process's memory until it runs the tool, and ThreadSanitizer, which the tests also run under,
// loses track of every thread of the test after such a child.
TToolResult RunTool(const QString& program, const QStringList& args, const QByteArray& input,
                    int timeoutMs)
{
    TToolResult result;
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0)
        return result;
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        ::close(in[0]);
        ::close(in[1]);
        return result;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    QList<QByteArray> words{QFile::encodeName(program)};
    for (const QString& arg : args)
        words << arg.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    for (const int fd : {in[0], out[1], err[1]})
        ::close(fd);
    if (spawned != 0) {
        for (const int fd : {in[1], out[0], err[0]})
            ::close(fd);
        return result;
    }

    // Input, output and errors all at once, so a chatty tool never blocks on a full pipe.
    qsizetype fed = 0;
    int toChild = in[1];
    if (input.isEmpty()) {
        ::close(toChild);
        toChild = -1;
    }
    QElapsedTimer clock;
    clock.start();
    bool timedOut = false;
    int open = 2;
    while (open > 0 || toChild >= 0) {
        pollfd fds[3] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}, {toChild, POLLOUT, 0}};
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        if (::poll(fds, 3, int(std::min<qint64>(left, 1000))) < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0)
                continue;
            char buffer[65536];
            const ssize_t n = ::read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? result.Out : result.Err).append(buffer, n);
            } else if (n == 0 || errno != EINTR) {
                ::close(fds[i].fd);
                (i == 0 ? out[0] : err[0]) = -1;
                --open;
            }
        }
        if (toChild >= 0 && fds[2].revents != 0) {
            const ssize_t n = ::write(toChild, input.constData() + fed, size_t(input.size() - fed));
            if (n > 0)
                fed += n;
            if ((n < 0 && errno != EINTR) || fed == input.size()) {
                ::close(toChild);
                toChild = -1;
            }
        }
    }
    for (const int fd : {toChild, out[0], err[0]})
        if (fd >= 0)
            ::close(fd);
    if (timedOut)
        ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (timedOut)
        return {};
    result.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
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
