#pragma once
// The user's folders from the environment and the password database.

#include "platform/UserFolders.h"

namespace tarvel {

class PosixUserFolders : public UserFolders {
  public:
    std::string configHome() const override;
    bool createFolder(const std::string& path, std::string& error) override;
};

}  // namespace tarvel
