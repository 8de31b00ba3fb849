#include "system/SystemServices.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTimer>

#include "network/LocalAddresses.h"
#include "network/QtSocketArray.h"
#include "ping/IcmpEcho.h"
#include "serial/TermiosSerialPort.h"
#include "system/RuntimeDir.h"
#include "virtual/PtyVirtualPort.h"

namespace velkon {

QtTimer::QtTimer(int intervalMs) : m_timer(std::make_unique<QTimer>())
{
    m_timer->setInterval(intervalMs);
    m_timer->setTimerType(Qt::PreciseTimer);
    QObject::connect(m_timer.get(), &QTimer::timeout, [this] { raiseTick(); });
}

QtTimer::~QtTimer() = default;

void QtTimer::SetEnabled(bool enabled)
{
    if (enabled) {
        if (!m_timer->isActive())
            m_timer->start();
    } else {
        m_timer->stop();
    }
}

bool QtTimer::Enabled() const
{
    return m_timer->isActive();
}

LocalDateTime SystemClock::Now() const
{
    const std::time_t t = std::time(nullptr);
    std::tm local{};
    localtime_r(&t, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
            local.tm_hour,        local.tm_min,     local.tm_sec};
}

ShellProcessLauncher::ShellProcessLauncher(std::function<void(const std::string&)> report)
    : m_report(std::move(report))
{
}

std::vector<std::string> ShellProcessLauncher::Plan(const std::string& commandLine)
{
    const QString text = QString::fromStdString(commandLine).trimmed();
    if (QFileInfo(text).isFile())
        return {text.toStdString()};
    static const QString kShellSyntax = "|&;<>()$`*?[]#~=%{}'\\\n";
    bool plain = true;
    for (QChar c : text)
        plain = plain && !kShellSyntax.contains(c);
    QStringList words = plain ? QProcess::splitCommand(text) : QStringList();
    if (words.isEmpty())
        return {"/bin/sh", "-c", commandLine};
    std::vector<std::string> plan;
    for (const QString& word : words)
        plan.push_back(word.toStdString());
    return plan;
}

bool ShellProcessLauncher::StartDetached(const std::string& commandLine)
{
    const std::vector<std::string> plan = Plan(commandLine);
    QProcess process;
    process.setProgram(QString::fromStdString(plan.front()));
    QStringList arguments;
    for (std::size_t i = 1; i < plan.size(); ++i)
        arguments << QString::fromStdString(plan[i]);
    process.setArguments(arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    if (process.startDetached())
        return true;
    if (m_reported.insert(commandLine).second) {
        const std::string text = "cannot start the error program \"" + commandLine +
                                 "\": " + process.errorString().toStdString();
        if (m_report)
            m_report(text);
        else
            std::fprintf(stderr, "velkon: %s\n", text.c_str());
    }
    return false;
}

bool PosixFileStore::Append(const std::string& path, const std::string& text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    return done == text.size();
}

bool PosixFileStore::Read(const std::string& path, std::string& content)
{
    // Non-blocking, so a pipe named as configuration cannot stall the start.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    content.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

namespace {

constexpr const char* kTempSuffix = ".XXXXXX";

// The file a path names after following symbolic links; the path itself when
// it is none. A dangling link gives the file it would point to.
std::string LinkTarget(const std::string& path)
{
    std::string current = path;
    for (int depth = 0; depth < 40; ++depth) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        char buffer[4096];
        const ssize_t n = ::readlink(current.c_str(), buffer, sizeof buffer - 1);
        if (n <= 0)
            return current;
        std::string next(buffer, static_cast<std::size_t>(n));
        if (next[0] != '/') {
            const std::size_t slash = current.rfind('/');
            next =
                (slash == std::string::npos ? std::string() : current.substr(0, slash + 1)) + next;
        }
        current = next;
    }
    return current;
}

mode_t CurrentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

// A temporary file beside the target, locked for the time of the save so a
// start that cleans up leftovers leaves it alone.
int CreateLockedTemp(const std::string& target, std::string& temp)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        temp = target + kTempSuffix;
        const int fd = ::mkstemp(temp.data());
        if (fd < 0)
            return -1;
        struct stat st {};
        // Removed between creation and lock by a cleaning start: take another.
        if (::flock(fd, LOCK_EX) == 0 && ::fstat(fd, &st) == 0 && st.st_nlink > 0)
            return fd;
        ::close(fd);
    }
    return -1;
}

bool WriteAll(int fd, const std::string& content)
{
    std::size_t done = 0;
    while (done < content.size()) {
        const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

bool PosixFileStore::Replace(const std::string& path, const std::string& content, bool privateFile)
{
    // Write a temporary file beside the target and rename it over the
    // target, so a crash or a full disk never leaves a truncated file.
    const std::string target = LinkTarget(path);
    // The file names a program the bridge starts: nobody else may change it.
    mode_t mode = 0644 & ~CurrentUmask();
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode))
            return false;
        mode = st.st_mode & 0755;
    }
    if (privateFile)
        mode = 0600;
    std::string temp;
    const int fd = CreateLockedTemp(target, temp);
    if (fd < 0)
        return false;
    bool ok = ::fchmod(fd, mode) == 0 && WriteAll(fd, content);
    ok = ok && ::fsync(fd) == 0;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(temp.c_str());
    ok = ::close(fd) == 0 && ok;
    return ok;
}

Result CheckConfigurationFile(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        const int err = errno;
        return Result::Fail(path + ": " + std::strerror(err), err);
    }
    if (S_ISDIR(st.st_mode))
        return Result::Fail(path + " is a folder, not a configuration file", EISDIR);
    if (S_ISFIFO(st.st_mode))
        return Result::Fail(path + " is a named pipe, not a configuration file", EINVAL);
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return Result::Fail(path + " is a device, not a configuration file", EINVAL);
    if (!S_ISREG(st.st_mode))
        return Result::Fail(path + " is not a regular file", EINVAL);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int err = errno;
        return Result::Fail(path + " cannot be read: " + std::strerror(err), err);
    }
    ::close(fd);
    return Result::Ok();
}

int RemoveSaveLeftovers(const std::string& path)
{
    const QFileInfo file(QString::fromStdString(path));
    const QString prefix = file.fileName() + ".";
    const QDir folder = file.absoluteDir();
    int removed = 0;
    for (const QString& name : folder.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        // Exactly the names mkstemp gives "<name>.XXXXXX".
        if (name.size() != prefix.size() + 6 || !name.startsWith(prefix))
            continue;
        bool sixLetters = true;
        for (QChar c : name.mid(prefix.size()))
            sixLetters = sixLetters && c.isLetterOrNumber() && c.unicode() < 128;
        if (!sixLetters)
            continue;
        const std::string leftover = folder.filePath(name).toStdString();
        const int fd = ::open(leftover.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0)
            continue;
        struct stat st {};
        // A save in progress holds the lock on its temporary file.
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::unlink(leftover.c_str()) == 0)
            ++removed;
        ::close(fd);
    }
    return removed;
}

std::vector<std::string> SystemNetworkInfo::LocalAddresses()
{
    return ListLocalIPv4Addresses();
}

PlatformComponentFactory::PlatformComponentFactory(std::string programFolder)
    : m_programFolder(std::move(programFolder))
{
}

SessionComponents PlatformComponentFactory::CreateSessionComponents()
{
    SessionComponents c;
    c.MSComm1 = std::make_unique<TermiosSerialPort>(m_programFolder);
    c.VSPort1 = std::make_unique<PtyVirtualPort>();
    c.Winsock1 = std::make_unique<QtSocketArray>();
    c.Timer1 = std::make_unique<QtTimer>(5000);
    c.Timer2 = std::make_unique<QtTimer>(50);
    return c;
}

std::string XdgStartEntry::EntryPath()
{
    return ConfigHome() + "/autostart/velkon.desktop";
}

bool XdgStartEntry::SetStartWithWindows(bool on, const std::string& valueName,
                                        const std::string& exePath, bool, bool)
{
    const std::string path = EntryPath();
    if (!on) {
        ::unlink(path.c_str());  // a missing entry is no error
        return true;
    }
    QDir().mkpath(QFileInfo(QString::fromStdString(path)).absolutePath());
    // Exec quoting: the path in double quotes, with \ " ` $ escaped.
    std::string quoted = "\"";
    for (char c : exePath) {
        if (c == '\\' || c == '"' || c == '`' || c == '$')
            quoted += '\\';
        quoted += c;
    }
    quoted += '"';
    const std::string entry = "[Desktop Entry]\nType=Application\nName=" + valueName +
                              "\nComment=RS232 to TCP/IP converter\nExec=" + quoted +
                              "\nTerminal=false\nX-GNOME-Autostart-enabled=true\n";
    PosixFileStore files;
    return files.Replace(path, entry, false);
}

std::string ConfigHome()
{
    // A relative XDG_CONFIG_HOME is invalid by the XDG rules and ignored.
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return config;
    const char* home = std::getenv("HOME");
    std::string base = home && *home ? home : "";
    if (base.empty()) {
        if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
            base = entry->pw_dir;
    }
    return base + "/.config";
}

std::string ProgramFolderFor(const std::string& exePath)
{
    const char* own = std::getenv("VELKON_HOME");
    if (own && *own)
        return QDir(QString::fromLocal8Bit(own)).absolutePath().toStdString();
    const QFileInfo exe(QString::fromStdString(exePath));
    // An installed copy cannot write beside its executable (and should not,
    // as root): its files go where the user's settings live.
    if (exe.absoluteDir().dirName() == "bin")
        return ConfigHome() + "/velkon";
    return exe.absolutePath().toStdString();
}

std::string ProgramFolder()
{
    return ProgramFolderFor(ExecutablePath());
}

namespace {

// mkdir -p with mode 0700 for every folder it makes; the failure names the
// part that could not be made and why.
Result MakeFolderPath(const std::string& path)
{
    std::string::size_type pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        const std::string part = path.substr(0, pos);
        if (part.empty() || part.back() == '/')
            continue;
        if (::mkdir(part.c_str(), 0700) == 0) {
            ::chmod(part.c_str(), 0700);  // whatever the umask took away
            continue;
        }
        const int err = errno;
        struct stat st {};
        if (err == EEXIST && ::stat(part.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                continue;
            return Result::Fail(
                "program folder " + path + " cannot be created: " + part + " is not a folder",
                ENOTDIR);
        }
        return Result::Fail(
            "program folder " + path + " cannot be created: " + part + ": " + std::strerror(err),
            err);
    }
    return Result::Ok();
}

}  // namespace

Result PrepareProgramFolder(const std::string& folder)
{
    struct stat st {};
    if (::stat(folder.c_str(), &st) != 0) {
        if (const Result made = MakeFolderPath(folder); !made)
            return made;
    } else if (!S_ISDIR(st.st_mode)) {
        return Result::Fail("program folder " + folder + " is not a folder", ENOTDIR);
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        const int err = errno;
        return Result::Fail(
            "program folder " + folder + " cannot be written: " + std::strerror(err), err);
    }
    return Result::Ok();
}

std::string ExecutablePath()
{
    char buffer[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n > 0)
        return std::string(buffer, static_cast<std::size_t>(n));
    return QCoreApplication::applicationFilePath().toStdString();
}

InstanceLock::InstanceLock() = default;

InstanceLock::~InstanceLock()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

bool InstanceLock::Acquire(std::string& error)
{
    std::string folder;
    const Result made = EnsureRuntimeDirectory(folder);
    if (!made) {
        error = made.description();
        return false;
    }
    const std::string path = folder + "/instance.lock";
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_fd);
        m_fd = -1;
        error = "another instance is running (" + path + ")";
        return false;
    }
    return true;
}

SystemServiceSet::SystemServiceSet(AppState& app)
    : components(app.programFolder),
      pinger(std::make_unique<AsyncPinger>([&app] { return app.globalSettings.PingTimeout; }))
{
    Services& s = app.services;
    s.clock = &clock;
    s.launcher = &launcher;
    s.files = &files;
    s.network = &network;
    s.startEntry = &startEntry;
    s.components = &components;
    s.pinger = pinger.get();
}

SystemServiceSet::~SystemServiceSet() = default;

}  // namespace velkon
