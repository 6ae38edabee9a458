#pragma once
// Replacing a file in one step on POSIX systems: the new content goes into a
// temporary file in the same folder, is flushed to the disk and renamed over
// the old file, so that readers, and the disk after a power cut, have the
// old file or the whole new one.

#include <sys/types.h>

#include <string>
#include <string_view>

namespace tarvel::posix {

struct ReplaceOptions {
    // Receives the inode of the new file.
    ino_t* writtenInode = nullptr;
    // A new file, and the temporary file before it takes the old file's
    // permissions, get this mode less the umask.
    mode_t newFileMode = 0666;
    // Temporary files of the same target that a killed process left behind
    // are removed first.
    bool removeStale = true;
    // The folder is flushed after the rename, so that the new name itself
    // survives a power cut. Without it a power cut right after the write
    // may still show the old file, whole: enough for a file written again
    // every cycle.
    bool flushFolder = true;
};

// Puts content at path. An existing file keeps its permissions (and, where
// the process may set it, its owner). A symbolic link is followed, dangling
// or not: the file it points to is written and the link stays a link. On
// failure the old file is untouched, the temporary file is removed and
// error says which step failed and why.
bool ReplaceFile(const std::string& path, std::string_view content, std::string& error,
                 const ReplaceOptions& options = {});

}  // namespace tarvel::posix
