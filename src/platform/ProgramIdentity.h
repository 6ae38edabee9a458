#pragma once
// Where the program lives and what it is called.

#include <string>

namespace tarvel {

class ProgramIdentity {
  public:
    virtual ~ProgramIdentity() = default;
    // The program folder, which holds the settings file (the executable's
    // own folder for a portable copy, else the user's settings folder),
    // without a trailing separator.
    virtual std::string programFolder() const = 0;
    // The executable's file name without folder ("Tarvel").
    virtual std::string executableName() const = 0;
    // The executable's full path.
    virtual std::string executablePath() const = 0;
    virtual int versionMajor() const = 0;
    virtual int versionMinor() const = 0;
    virtual int versionRevision() const = 0;
    // "holder - rest"; the holder is the text before the first "-".
    virtual std::string copyright() const = 0;
    // The machine's name on the network; empty when it has none.
    virtual std::string hostName() const { return {}; }
};

}  // namespace tarvel
