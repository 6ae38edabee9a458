#include "platform/posix/AtomicFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace tarvel::posix {
namespace {

std::string reason(const std::string& what, int error) {
    return what + ": " + std::strerror(error);
}

std::string folderOf(const std::string& path);

// The file a symbolic link points to, link after link, whether it exists or
// not; the path itself otherwise. A loop ends at its fortieth link.
std::string resolveTarget(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat st {};
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
        std::string target(static_cast<std::size_t>(PATH_MAX), '\0');
        const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
        if (n <= 0) return current;
        target.resize(static_cast<std::size_t>(n));
        current = target.front() == '/' ? target : folderOf(current) + "/" + target;
    }
    return current;
}

std::string folderOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseOf(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Temporary files of the target that a process left behind when it was
// killed while writing: our name pattern, with the id of a process that no
// longer runs.
void removeStaleTemporaries(const std::string& target) {
    const std::string folder = folderOf(target);
    const std::string prefix = "." + baseOf(target) + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (!name.starts_with(prefix) || !name.ends_with(".tmp")) continue;
        const std::string_view rest = name.substr(prefix.size());
        const std::size_t dash = rest.find('-');
        if (dash == 0 || dash == std::string_view::npos) continue;
        pid_t pid = 0;
        for (char c : rest.substr(0, dash)) {
            if (c < '0' || c > '9' || pid > 100'000'000) {
                pid = 0;
                break;
            }
            pid = pid * 10 + (c - '0');
        }
        if (pid <= 0 || pid == ::getpid()) continue;
        if (::kill(pid, 0) != 0 && errno == ESRCH) (void)::unlinkat(::dirfd(dir), entry->d_name, 0);
    }
    ::closedir(dir);
}

// A file next to the target, removed again unless it was renamed.
class TemporaryFile {
  public:
    TemporaryFile() = default;
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;
    ~TemporaryFile() {
        if (fd_ >= 0) ::close(fd_);
        if (!name_.empty()) ::unlink(name_.c_str());
    }

    // Creates it with a name no one else uses and the mode (less the
    // umask); errno tells why not.
    bool create(const std::string& target, mode_t mode) {
        static unsigned counter = 0;
        const std::string stem =
            folderOf(target) + "/." + baseOf(target) + "." + std::to_string(::getpid()) + "-";
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = stem + std::to_string(counter++) + ".tmp";
            fd_ = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
            if (fd_ >= 0) {
                name_ = std::move(name);
                return true;
            }
            if (errno != EEXIST) return false;
        }
        return false;
    }

    bool writeAll(std::string_view content) {
        while (!content.empty()) {
            ssize_t n = ::write(fd_, content.data(), content.size());
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (n == 0) errno = EIO;
                return false;
            }
            content.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }

    bool close() {
        int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

    int fd() const { return fd_; }
    const std::string& name() const { return name_; }
    // Renamed into place: nothing to remove any more.
    void release() { name_.clear(); }

  private:
    int fd_ = -1;
    std::string name_;
};

// The old file's permissions and owner. Failing to set them (a file system
// without modes, an owner this process may not give away) does not stop
// the replacement.
void keepAttributes(int fd, const struct stat& old) {
    (void)::fchmod(fd, old.st_mode & 07777);
    struct stat now {};
    if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid)) {
        if (::fchown(fd, old.st_uid, old.st_gid) == 0) (void)::fchmod(fd, old.st_mode & 07777);
    }
}

void syncFolder(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)::fsync(fd);
    ::close(fd);
}

}  // namespace

bool ReplaceFile(const std::string& path, std::string_view content, std::string& error,
                 const ReplaceOptions& options) {
    const std::string target = resolveTarget(path);
    if (options.removeStale) removeStaleTemporaries(target);
    TemporaryFile temp;
    if (!temp.create(target, options.newFileMode)) {
        const int e = errno;
        error = reason("cannot create a temporary file in " + folderOf(target), e);
        return false;
    }
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0 && S_ISREG(old.st_mode)) keepAttributes(temp.fd(), old);
    if (!temp.writeAll(content)) {
        const int e = errno;
        error = reason("cannot write " + temp.name(), e);
        return false;
    }
    if (::fsync(temp.fd()) != 0) {
        const int e = errno;
        error = reason("cannot flush " + temp.name() + " to the disk", e);
        return false;
    }
    struct stat written {};
    if (options.writtenInode != nullptr && ::fstat(temp.fd(), &written) == 0)
        *options.writtenInode = written.st_ino;
    if (!temp.close()) {
        const int e = errno;
        error = reason("cannot close " + temp.name(), e);
        return false;
    }
    if (::rename(temp.name().c_str(), target.c_str()) != 0) {
        const int e = errno;
        error = reason("cannot rename " + temp.name() + " to " + target, e);
        return false;
    }
    temp.release();
    if (options.flushFolder) syncFolder(folderOf(target));
    return true;
}

}  // namespace tarvel::posix
