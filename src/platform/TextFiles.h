#pragma once
// Whole files of text on the file system, for the settings file: what file
// is at a path (its identity, or why there is none), all of its bytes, and
// a replacement in one step. The identity changes whenever the file does,
// so a reader can keep what it parsed while the identity stays the same.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvel {

struct FileTime {
    std::int64_t seconds = 0;
    std::int64_t nanoseconds = 0;
    bool operator==(const FileTime&) const = default;
};

// One version of a file: an edit or a replacement changes at least one of
// these.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t size = 0;
    FileTime modified;
    FileTime changed;
    bool operator==(const FileIdentity&) const = default;
};

enum class FileKind {
    Present,     // a file that can be read
    Missing,     // nothing at the path, or a part of the path is no folder
    Folder,      // a folder, not a file
    Unreadable,  // there, but it cannot be read or is no plain file
};

// A file as looked up at a path. The identity counts only for a present
// file; the reason says why an unreadable one is, in the system's words.
struct FileLookup {
    FileKind kind = FileKind::Missing;
    FileIdentity identity;
    std::string reason;
    // The system's words for the error alone ("Permission denied").
    std::string systemError;
};

// The outcome of a write. On success, the identity of the file now at the
// path, when it is still the one just written (another writer may have
// replaced it already); on failure, why the file was left as it was.
struct FileWrite {
    bool written = false;
    std::optional<FileIdentity> identity;
    std::string error;
};

class TextFiles {
  public:
    virtual ~TextFiles() = default;
    // The file at path, a symbolic link followed, without reading it.
    virtual FileLookup identify(const std::string& path) = 0;
    // All bytes of the file. The identity is that of the bytes read, even
    // when the file is replaced meanwhile; bytes are empty unless present.
    virtual FileLookup read(const std::string& path, std::string& bytes) = 0;
    // Puts the bytes at path in one step: readers see the old file or the
    // whole new one. An existing file keeps its permissions and, where the
    // process may set it, its owner; a new file is for its owner only
    // (0600); a symbolic link is followed and stays.
    virtual FileWrite write(const std::string& path, std::string_view bytes) = 0;
};

}  // namespace tarvel
