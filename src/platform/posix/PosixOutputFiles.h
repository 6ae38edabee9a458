#pragma once
// The output files on a POSIX file system. A file is replaced in one step
// (temporary file, flush, rename), so a reader never sees a part of it. A
// target that is no plain file (a character device, a named pipe, a socket)
// is written into in place and never replaced or deleted; a named pipe
// without a reader makes the write fail instead of waiting. A protected file
// (the settings file) is never written, whatever path names it. Temporary
// files that a killed writer left beside a target are removed at this
// object's first write of it.

#include <set>
#include <string>
#include <vector>

#include "platform/OutputFiles.h"

namespace tarvel {

class PosixOutputFiles : public OutputFiles {
  public:
    // True for anything at the path but a folder.
    bool exists(const std::string& path) override;
    // A target that is no plain file is left in place: true.
    bool remove(const std::string& path) override;
    bool replace(const std::string& path, const std::string& content, std::string& error) override;

    // The file at this path, by device and inode when written, is refused as
    // an output.
    void protect(std::string path) { protected_.push_back(std::move(path)); }

  private:
    std::vector<std::string> protected_;
    std::set<std::string> cleaned_;  // targets whose stale temporaries are gone
};

}  // namespace tarvel
