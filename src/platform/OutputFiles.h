#pragma once
// The files the program writes its output into.

#include <string>

namespace tarvel {

class OutputFiles {
  public:
    virtual ~OutputFiles() = default;
    virtual bool exists(const std::string& path) = 0;
    // Deletes the file; false when it could not be deleted.
    virtual bool remove(const std::string& path) = 0;
    // Puts the content at path in one step: readers see the old file or the
    // whole new one, never a part. On failure the old file stays whole, and
    // error says why.
    virtual bool replace(const std::string& path, const std::string& content,
                         std::string& error) = 0;
};

}  // namespace tarvel
