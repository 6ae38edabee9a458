#pragma once
// The output files on a POSIX file system. A file is replaced in one step
// (temporary file, flush, rename), so a reader never sees a part of it.

#include "platform/OutputFiles.h"

namespace tarvel {

class PosixOutputFiles : public OutputFiles {
  public:
    // True for anything at the path but a folder.
    bool exists(const std::string& path) override;
    bool remove(const std::string& path) override;
    bool replace(const std::string& path, const std::string& content, std::string& error) override;
};

}  // namespace tarvel
