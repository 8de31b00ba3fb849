#include "system/RuntimeDir.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace velkon {

namespace {

std::string SharedTempFolder()
{
    return "/tmp/velkon-" + std::to_string(::getuid());
}

Result Failure(const std::string& path, const std::string& what, int err)
{
    return Result::Fail("runtime folder " + path + ": " + what + " (" + std::strerror(err) + ")",
                        err);
}

// mkdir -p with 0700 for every folder it creates: a parent made only for us
// should not be readable by others either.
Result MakeFolders(const std::string& path)
{
    std::string::size_type pos = 0;
    while (pos != std::string::npos) {
        pos = path.find('/', pos + 1);
        const std::string part = path.substr(0, pos);
        if (part.empty() || part.back() == '/') {
            continue;
        }
        if (::mkdir(part.c_str(), 0700) == 0) {
            // The umask may have taken bits away; the owner must keep full access.
            ::chmod(part.c_str(), 0700);
            continue;
        }
        const int err = errno;
        struct stat st {};
        if (err == EEXIST && ::stat(part.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) {
                return Result::Fail("runtime folder " + path + ": " + part +
                                    " exists and is not a folder");
            }
            continue;
        }
        return Failure(path, "cannot create " + part, err);
    }
    return Result::Ok();
}

}  // namespace

std::string RuntimeDirectory()
{
    const char* own = std::getenv("VELKON_RUNTIME_DIR");
    if (own != nullptr && *own != '\0') {
        return own;
    }
    const char* xdg = std::getenv("XDG_RUNTIME_DIR");
    if (xdg != nullptr && *xdg != '\0') {
        return std::string(xdg) + "/velkon";
    }
    return SharedTempFolder();
}

Result EnsureRuntimeDirectory(std::string& path)
{
    path = RuntimeDirectory();
    struct stat st {};
    if (path == SharedTempFolder() && ::lstat(path.c_str(), &st) == 0) {
        // /tmp is shared by every user: a folder (or link) planted there by
        // someone else must not receive our links and locks.
        if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
            return Result::Fail("runtime folder " + path +
                                ": exists but is not a folder owned by this user");
        }
        return Result::Ok();
    }
    if (::stat(path.c_str(), &st) == 0) {
        if (!S_ISDIR(st.st_mode)) {
            return Result::Fail("runtime folder " + path + ": exists and is not a folder");
        }
        return Result::Ok();
    }
    return MakeFolders(path);
}

}  // namespace velkon
