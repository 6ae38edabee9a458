#include "platform/posix/IniFileStore.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix/AtomicFile.h"

namespace tarvel {
namespace {

bool sameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

bool readAll(int fd, std::size_t sizeHint, std::string& bytes) {
    bytes.clear();
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

bool IniFileStore::Identity::operator==(const Identity& other) const {
    return device == other.device && inode == other.inode && size == other.size &&
           sameTime(modified, other.modified) && sameTime(changed, other.changed);
}

IniFileStore::Identity IniFileStore::identityOf(const struct stat& st) {
    return {st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
}

void IniFileStore::holdVersion(bool hold) {
    held_ = hold;
    checkedWhileHeld_ = false;
}

IniFileStore::FileState IniFileStore::refresh(const std::string& file) {
    if (held_ && checkedWhileHeld_ && path_ == file) return heldState_;
    FileState state = check(file);
    if (held_) {
        checkedWhileHeld_ = true;
        heldState_ = state;
        path_ = file;
    }
    return state;
}

IniFileStore::FileState IniFileStore::check(const std::string& file) {
    struct stat st {};
    if (::stat(file.c_str(), &st) != 0) {
        valid_ = false;
        return errno == ENOENT || errno == ENOTDIR ? FileState::Missing : FileState::Unreadable;
    }
    if (valid_ && path_ == file && identity_ == identityOf(st)) return FileState::Loaded;
    return load(file) ? FileState::Loaded : FileState::Unreadable;
}

bool IniFileStore::load(const std::string& file) {
    valid_ = false;
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    std::string bytes;
    // The identity is taken from the open file, so that it belongs to the
    // bytes read even when the file is replaced meanwhile.
    bool ok = ::fstat(fd, &st) == 0 && readAll(fd, static_cast<std::size_t>(st.st_size), bytes);
    ::close(fd);
    if (!ok) return false;
    document_ = IniDocument(std::move(bytes));
    identity_ = identityOf(st);
    path_ = file;
    valid_ = true;
    return true;
}

std::string IniFileStore::read(const std::string& file, const std::string& section,
                               const std::string& key, const std::string& fallback) {
    if (refresh(file) == FileState::Loaded) return document_.get(section, key, fallback);
    return IniDocument().get(section, key, fallback);
}

bool IniFileStore::write(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& value) {
    switch (refresh(file)) {
        case FileState::Loaded:
            break;
        case FileState::Missing:
            document_ = IniDocument();
            break;
        // A file that exists but cannot be read is not overwritten.
        case FileState::Unreadable:
            return false;
    }
    valid_ = false;
    checkedWhileHeld_ = false;
    if (!document_.set(section, key, value)) return false;
    std::string error;
    ino_t inode = 0;
    if (!posix::ReplaceFile(file, document_.bytes(), error, &inode)) return false;
    // Keep the new text when the file now in place is the one just written.
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && st.st_ino == inode &&
        static_cast<std::size_t>(st.st_size) == document_.bytes().size()) {
        identity_ = identityOf(st);
        path_ = file;
        valid_ = true;
    }
    return true;
}

}  // namespace tarvel
