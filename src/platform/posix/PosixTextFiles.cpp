#include "platform/posix/PosixTextFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/AtomicFile.h"

namespace tarvel {
namespace {

FileTime timeOf(const struct timespec& t) { return {t.tv_sec, t.tv_nsec}; }

FileIdentity identityOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size), timeOf(st.st_mtim), timeOf(st.st_ctim)};
}

// What the system said when the path could not be looked at or opened.
FileLookup failure(const std::string& what, const std::string& path, int error) {
    FileLookup found;
    found.kind = error == ENOENT || error == ENOTDIR ? FileKind::Missing : FileKind::Unreadable;
    found.systemError = std::strerror(error);
    found.reason = what + " " + path + ": " + found.systemError;
    return found;
}

FileLookup lookupOf(const std::string& path, const struct stat& st) {
    FileLookup found;
    if (S_ISDIR(st.st_mode)) {
        found.kind = FileKind::Folder;
        found.reason = path + " is a folder";
    } else if (!S_ISREG(st.st_mode)) {
        found.kind = FileKind::Unreadable;
        found.reason = path + " is not a plain file";
    } else {
        found.kind = FileKind::Present;
        found.identity = identityOf(st);
    }
    return found;
}

bool readAll(int fd, std::size_t sizeHint, std::string& bytes) {
    bytes.reserve(sizeHint);
    char buffer[65536];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) return true;
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace

FileLookup PosixTextFiles::identify(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return failure("cannot look at", path, errno);
    return lookupOf(path, st);
}

FileLookup PosixTextFiles::read(const std::string& path, std::string& bytes) {
    bytes.clear();
    // Not blocking: a named pipe at the path must not stop the program.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return failure("cannot open", path, errno);
    // The identity is taken from the open file, so that it belongs to the
    // bytes read even when the file is replaced meanwhile.
    struct stat st {};
    FileLookup found =
        ::fstat(fd, &st) == 0 ? lookupOf(path, st) : failure("cannot look at", path, errno);
    if (found.kind == FileKind::Present &&
        !readAll(fd, static_cast<std::size_t>(st.st_size), bytes)) {
        found = failure("cannot read", path, errno);
        found.kind = FileKind::Unreadable;
    }
    ::close(fd);
    if (found.kind != FileKind::Present) bytes.clear();
    return found;
}

FileWrite PosixTextFiles::write(const std::string& path, std::string_view bytes) {
    FileWrite outcome;
    ino_t inode = 0;
    // Settings may hold a password: a new file, and every temporary file,
    // is for its owner only.
    if (!posix::ReplaceFile(path, bytes, outcome.error, {&inode, 0600})) return outcome;
    outcome.written = true;
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_ino == inode &&
        static_cast<std::size_t>(st.st_size) == bytes.size())
        outcome.identity = identityOf(st);
    return outcome;
}

}  // namespace tarvel
