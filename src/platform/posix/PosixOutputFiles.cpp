#include "platform/posix/PosixOutputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/posix/AtomicFile.h"

namespace tarvel {
namespace {

bool isSpecial(const struct stat& st) {
    return S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode);
}

// Writes into a device or a pipe as it is, without waiting for a reader.
bool writeInPlace(const std::string& path, std::string_view content, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        const int e = errno;
        error = "cannot open " + path + ": " +
                (e == ENXIO ? std::string("no reader on the other end") : std::strerror(e));
        return false;
    }
    while (!content.empty()) {
        const ssize_t n = ::write(fd, content.data(), content.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int e = n == 0 ? EIO : errno;
            error = "cannot write " + path + ": " +
                    (e == EAGAIN ? std::string("the reader takes no more") : std::strerror(e));
            ::close(fd);
            return false;
        }
        content.remove_prefix(static_cast<std::size_t>(n));
    }
    ::close(fd);
    return true;
}

}  // namespace

bool PosixOutputFiles::exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool PosixOutputFiles::remove(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && isSpecial(st)) return true;
    return ::unlink(path.c_str()) == 0;
}

bool PosixOutputFiles::replace(const std::string& path, const std::string& content,
                               std::string& error) {
    struct stat target {};
    if (::stat(path.c_str(), &target) == 0) {
        for (const std::string& kept : protected_) {
            struct stat st {};
            if (::stat(kept.c_str(), &st) == 0 && st.st_dev == target.st_dev &&
                st.st_ino == target.st_ino) {
                error = path + " is the settings file " + kept + ": not written";
                return false;
            }
        }
        if (isSpecial(target)) return writeInPlace(path, content, error);
    }
    // A killed writer's temporary files can only be older than this
    // process's first write of the target: they are looked for once. An
    // output is written again at the next cycle: its new name need not be
    // flushed at once.
    posix::ReplaceOptions options;
    options.removeStale = cleaned_.insert(path).second;
    options.flushFolder = false;
    return posix::ReplaceFile(path, content, error, options);
}

}  // namespace tarvel
