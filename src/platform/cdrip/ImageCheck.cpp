#include "platform/cdrip/ImageCheck.h"

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace cdrip {

namespace {

using TClock = std::chrono::steady_clock;

const char* const CheckerName = "tarvik-imagecheck";
// A sheet is a short text; anything longer is not read for its file names (libcdio still gets
// it, in the checker).
constexpr qint64 MaxSheetBytes = 1 << 20;
// One 2048-byte data sector and an NRG footer: no disc image holds less.
constexpr off_t MinImageBytes = 2048 + 8;

QString Decoded(const std::string& bytes)
{
    return QFile::decodeName(QByteArray::fromStdString(bytes));
}

std::string FolderOf(const std::string& path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

bool EndsWithNoCase(const std::string& text, const char* suffix)
{
    const size_t n = std::strlen(suffix);
    return text.size() >= n && strncasecmp(text.c_str() + text.size() - n, suffix, n) == 0;
}

// What a file that is not a regular one is, for a reason; empty for a regular file.
QString NotRegular(const struct stat& st)
{
    if (S_ISREG(st.st_mode))
        return {};
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("a named pipe");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("a socket");
    if (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode))
        return QStringLiteral("a device");
    return QStringLiteral("not a regular file");
}

QString SystemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why the image at `path` cannot even be handed to the checker; empty when it can.
QString FileReason(const std::string& path, std::vector<TFileStamp>& files)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) {
        return errno == ENOENT ? QStringLiteral("it does not exist")
                               : QStringLiteral("it cannot be read (%1)").arg(SystemReason(errno));
    }
    if (const QString what = NotRegular(st); !what.isEmpty())
        return QStringLiteral("it is %1, not a disc image file").arg(what);
    if (::access(path.c_str(), R_OK) != 0)
        return QStringLiteral("it cannot be read (%1)").arg(SystemReason(errno));
    // libcdio reads an NRG image's footer before it knows the file holds one, and then goes by
    // whatever its buffer held: a file too short for any disc is refused before it gets that far.
    const bool sheet = EndsWithNoCase(path, ".cue") || EndsWithNoCase(path, ".toc");
    if (!sheet && st.st_size < MinImageBytes)
        return QStringLiteral("it is too short to hold a disc (%1 bytes)").arg(st.st_size);
    files.emplace_back().Capture(path);
    const std::vector<std::string> data = SheetDataFiles(path);
    for (size_t i = 0; i < data.size(); ++i) {
        const QString name = Decoded(data[i]);
        if (::stat(data[i].c_str(), &st) != 0) {
            const int error = errno;
            // A CUE sheet's FILE line names a file libcdio does not read; only its own is needed.
            const bool needed = i == 0 || !EndsWithNoCase(path, ".cue");
            if (error == ENOENT && !needed)
                continue;
            // A stamp even for a file that is missing: the image is checked again once it is.
            files.emplace_back().Capture(data[i]);
            if (error == ENOENT && i == 0 && EndsWithNoCase(path, ".cue")) {
                return QStringLiteral("its data file %1 does not exist (libcdio reads a CUE "
                                      "sheet's audio from the file of the sheet's name ending "
                                      "in .bin)")
                    .arg(name);
            }
            return error == ENOENT ? QStringLiteral("its data file %1 does not exist").arg(name)
                                   : QStringLiteral("its data file %1 cannot be read (%2)")
                                         .arg(name, SystemReason(error));
        }
        files.emplace_back().Capture(data[i]);
        // Reading a pipe or a device for a disc's sectors would wait for ever or never end.
        if (const QString what = NotRegular(st); !what.isEmpty())
            return QStringLiteral("its data file %1 is %2, not a regular file").arg(name, what);
    }
    return {};
}

std::string SelfFolder()
{
    // Qt finds the program from its arguments too where /proc is not mounted (a chroot).
    if (QCoreApplication::instance() != nullptr) {
        const QString folder = QCoreApplication::applicationDirPath();
        if (!folder.isEmpty())
            return QFile::encodeName(folder).toStdString() + '/';
    }
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0)
        return {};
    return FolderOf(std::string(buffer, size_t(n)));
}

bool Executable(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

// One checker process at work on one image.
struct TRun
{
    pid_t Pid = -1;
    int Output = -1;
    std::string Answer;
    bool Finished = false;
};

QString RunFailure(int status)
{
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const char* name = strsignal(sig);
        return QStringLiteral("libcdio crashed while reading it (%1)")
            .arg(name != nullptr ? QString::fromLocal8Bit(name) : QString::number(sig));
    }
    return QStringLiteral("the image check ended without an answer (exit status %1)")
        .arg(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

bool Start(TRun& run, const std::string& program, const std::string& image)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // The program's signal handling (a handler, a blocked signal) is not the checker's.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    std::string arg0 = program, arg1 = image;
    char* argv[] = {arg0.data(), arg1.data(), nullptr};
    const int rc = posix_spawn(&run.Pid, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        run.Pid = -1;
        errno = rc;
        return false;
    }
    run.Output = fds[0];
    return true;
}

// Reads every checker's answer until each has closed its output or the time is up.
void Collect(std::vector<TRun*>& runs, int timeoutMs)
{
    const TClock::time_point deadline = TClock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        std::vector<pollfd> fds;
        std::vector<TRun*> open;
        for (TRun* run : runs) {
            if (run->Output >= 0) {
                fds.push_back({run->Output, POLLIN, 0});
                open.push_back(run);
            }
        }
        if (fds.empty())
            return;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - TClock::now()).count();
        if (left <= 0)
            return;
        const int n = ::poll(fds.data(), nfds_t(fds.size()), int(left));
        if (n < 0 && errno != EINTR)
            return;
        for (size_t i = 0; n > 0 && i < fds.size(); ++i) {
            if (fds[i].revents == 0)
                continue;
            char buffer[512];
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                open[i]->Answer.append(buffer, size_t(got));
            } else if (got == 0 || errno != EINTR) {
                ::close(open[i]->Output);
                open[i]->Output = -1;
                open[i]->Finished = true;
            }
        }
    }
}

QString Verdict(const TRun& run, int status, int timeoutMs)
{
    if (!run.Finished) {
        return QStringLiteral("libcdio did not finish reading it within %1 seconds")
            .arg(double(timeoutMs) / 1000.0);
    }
    const std::string line = run.Answer.substr(0, run.Answer.find('\n'));
    const std::string refused = "refused ";
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        if (line == "ok")
            return {};
        if (line.compare(0, refused.size(), refused) == 0)
            return QString::fromUtf8(line.substr(refused.size()));
    }
    return RunFailure(status);
}

} // namespace

bool TFileStamp::Capture(const std::string& path)
{
    Path = path;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return false;
    Device = st.st_dev;
    Inode = st.st_ino;
    Size = st.st_size;
    ModifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return true;
}

bool TFileStamp::Unchanged() const
{
    TFileStamp now;
    return now.Capture(Path) && now.Device == Device && now.Inode == Inode && now.Size == Size &&
           now.ModifiedNs == ModifiedNs;
}

bool TImageVerdict::Unchanged() const
{
    if (Files.empty())
        return false;
    for (const TFileStamp& f : Files)
        if (!f.Unchanged())
            return false;
    return true;
}

std::vector<std::string> SheetDataFiles(const std::string& sheet)
{
    std::vector<std::string> result;
    const bool cue = EndsWithNoCase(sheet, ".cue");
    if (!cue && !EndsWithNoCase(sheet, ".toc"))
        return result;
    // libcdio reads a CUE sheet's audio from the file of the sheet's own name with "bin" for
    // "cue", whatever its FILE line says.
    if (cue) {
        std::string bin = sheet.substr(0, sheet.size() - 3);
        bin += sheet.compare(sheet.size() - 3, 3, "cue") == 0 ? "bin" : "BIN";
        result.push_back(bin);
    }
    // The name as bytes: a sheet whose name is not valid in the locale is still read.
    const int fd = ::open(sheet.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return result;
    QByteArray text;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0 || text.size() >= MaxSheetBytes)
            break;
        text.append(buffer, got);
    }
    ::close(fd);
    for (QByteArray line : text.split('\n')) {
        line = line.trimmed();
        // CUE sheets name their data with FILE, cdrdao's TOC files with FILE, AUDIOFILE and
        // DATAFILE; the name is quoted, or in a CUE sheet may be one bare word.
        int keyword = 0;
        for (const char* k : {"FILE", "AUDIOFILE", "DATAFILE"}) {
            const int n = int(std::strlen(k));
            if (line.size() > n && qstrnicmp(line.constData(), k, n) == 0 &&
                (line[n] == ' ' || line[n] == '\t'))
                keyword = n;
        }
        if (keyword == 0)
            continue;
        QByteArray rest = line.mid(keyword).trimmed();
        QByteArray name;
        if (rest.startsWith('"')) {
            const int close = rest.indexOf('"', 1);
            name = close > 0 ? rest.mid(1, close - 1) : rest.mid(1);
        } else {
            const int space = rest.indexOf(' ');
            name = space > 0 ? rest.left(space) : rest;
        }
        if (name.isEmpty())
            continue;
        // libcdio takes a CUE sheet's names from the sheet's folder and a TOC file's from the
        // working folder.
        std::string path = name.toStdString();
        if (path[0] != '/' && cue)
            path = FolderOf(sheet) + path;
        if (std::find(result.begin(), result.end(), path) == result.end())
            result.push_back(path);
    }
    return result;
}

std::string ImageCheckerPath()
{
    std::vector<std::string> candidates;
    const std::string self = SelfFolder();
    if (!self.empty()) {
        candidates.push_back(self + CheckerName);
        candidates.push_back(self + "../lib/tarvik/" + CheckerName);
        candidates.push_back(self + "../libexec/tarvik/" + CheckerName);
    }
    candidates.push_back(std::string(TARVIK_CHECKER_INSTALL_DIR "/") + CheckerName);
    for (const std::string& c : candidates)
        if (Executable(c))
            return c;
    return {};
}

std::vector<TImageVerdict> CheckImages(const std::vector<std::string>& paths,
                                       const TImageCheckOptions& options)
{
    std::vector<TImageVerdict> verdicts(paths.size());
    std::vector<TRun> runs(paths.size());
    std::vector<TRun*> started;
    std::string program;
    for (size_t i = 0; i < paths.size(); ++i) {
        TImageVerdict& v = verdicts[i];
        v.Reason = FileReason(paths[i], v.Files);
        if (!v.Reason.isEmpty())
            continue;
        if (program.empty())
            program = options.Program.empty() ? ImageCheckerPath() : options.Program;
        if (program.empty()) {
            v.Reason = QStringLiteral("the image checker %1 is not installed with the program")
                           .arg(QLatin1StringView(CheckerName));
        } else if (!Start(runs[i], program, paths[i])) {
            v.Reason = QStringLiteral("the image checker %1 could not be started (%2)")
                           .arg(Decoded(program), SystemReason(errno));
        } else {
            started.push_back(&runs[i]);
        }
    }
    Collect(started, options.TimeoutMs);
    for (size_t i = 0; i < paths.size(); ++i) {
        TRun& run = runs[i];
        if (run.Pid < 0)
            continue;
        if (!run.Finished)
            ::kill(run.Pid, SIGKILL);
        if (run.Output >= 0)
            ::close(run.Output);
        int status = 0;
        while (::waitpid(run.Pid, &status, 0) < 0 && errno == EINTR) {
        }
        verdicts[i].Reason = Verdict(run, status, options.TimeoutMs);
        verdicts[i].Usable = verdicts[i].Reason.isEmpty();
    }
    return verdicts;
}

QString DriveProblem(const std::string& path, const QString& reason)
{
    return QStringLiteral("CDRIP_DRIVES: %1 cannot be used: %2").arg(Decoded(path), reason);
}

TDriveSetting ReadDriveSetting(const QByteArray& setting, const TImageCheckOptions& options)
{
    TDriveSetting result;
    std::vector<std::string> images;
    std::vector<TDriveEntry> entries;
    for (const QByteArray& part : setting.split(':')) {
        if (part.isEmpty())
            continue;
        ++result.Named;
        TDriveEntry entry;
        entry.Path = part.toStdString();
        const size_t slash = entry.Path.rfind('/');
        entry.Name =
            Decoded(slash == std::string::npos ? entry.Path : entry.Path.substr(slash + 1));
        struct stat st;
        entry.Image =
            !(::stat(entry.Path.c_str(), &st) == 0 && (S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode)));
        if (entry.Image)
            images.push_back(entry.Path);
        entries.push_back(std::move(entry));
    }
    std::vector<TImageVerdict> verdicts = CheckImages(images, options);
    size_t next = 0;
    for (TDriveEntry& entry : entries) {
        if (entry.Image) {
            entry.Verdict = std::move(verdicts[next++]);
            if (!entry.Verdict.Usable) {
                result.Problems << DriveProblem(entry.Path, entry.Verdict.Reason);
                continue;
            }
        }
        result.Usable.push_back(std::move(entry));
    }
    return result;
}

} // namespace cdrip
