#pragma once
// Where the running executable lives and what it is called, from Qt's
// application object, and the program's version information.

#include <string>

#include "platform/ProgramIdentity.h"

namespace tarvel {

class QtProgramIdentity : public ProgramIdentity {
  public:
    // An empty folder means the executable's own folder.
    explicit QtProgramIdentity(std::string folder = {});

    std::string programFolder() const override;
    std::string executableName() const override;
    std::string executablePath() const override;
    int versionMajor() const override { return 1; }
    int versionMinor() const override { return 0; }
    int versionRevision() const override { return 0; }
    std::string copyright() const override;
    std::string hostName() const override;

  private:
    std::string folder_;
};

}  // namespace tarvel
