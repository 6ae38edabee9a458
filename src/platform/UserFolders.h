#pragma once
// The user's own folders: where per-user settings go, and making a folder.

#include <string>

namespace tarvel {

class UserFolders {
  public:
    virtual ~UserFolders() = default;
    // The folder of per-user settings ($XDG_CONFIG_HOME when it is an
    // absolute path, else ~/.config), without a trailing separator; empty
    // when the user's home is unknown.
    virtual std::string configHome() const = 0;
    // Creates the folder and the missing folders above it; false with the
    // system's words in error.
    virtual bool createFolder(const std::string& path, std::string& error) = 0;
};

}  // namespace tarvel
