#pragma once
// Where the running executable lives and what it is called, from Qt's
// application object, and the program's version information.

#include <string>

#include "Product.h"
#include "platform/ProgramIdentity.h"

namespace tarvel {

class QtProgramIdentity : public ProgramIdentity {
  public:
    // The program folder; empty means the executable's own folder.
    explicit QtProgramIdentity(std::string folder = {});

    std::string programFolder() const override;
    std::string executableName() const override;
    std::string executablePath() const override;
    int versionMajor() const override { return VersionMajor; }
    int versionMinor() const override { return VersionMinor; }
    int versionRevision() const override { return VersionRevision; }
    std::string copyright() const override;
    std::string hostName() const override;

    // The folder of the executable, without a trailing separator.
    static std::string executableFolder();
    // The example settings file of the installation the executable belongs
    // to (share/tarvel/Tarvel.INI beside its bin folder).
    static std::string exampleSettings();
    // The device templates: beside the executable (a build tree), else the
    // installed ones under the data folder.
    static std::string templateFolder();

  private:
    std::string folder_;
};

}  // namespace tarvel
