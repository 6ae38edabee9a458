#pragma once
// Whole text files on a POSIX file system. The identity is the device, the
// inode, the size and the modification and change times; a write goes
// through a temporary file that is flushed and renamed over the old one.

#include "platform/TextFiles.h"

namespace tarvel {

class PosixTextFiles : public TextFiles {
  public:
    FileLookup identify(const std::string& path) override;
    FileLookup read(const std::string& path, std::string& bytes) override;
    FileWrite write(const std::string& path, std::string_view bytes) override;
};

}  // namespace tarvel
