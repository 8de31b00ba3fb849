#include "system/ProgramFolder.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace velkon {

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

}  // namespace velkon
