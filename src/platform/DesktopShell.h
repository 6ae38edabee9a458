#pragma once
// The user's desktop: the text editor and the other conveniences around the
// program.

#include <string>

namespace tarvel {

class DesktopShell {
  public:
    virtual ~DesktopShell() = default;
    // Opens the file in the user's text editor without waiting for it.
    // False when no editor could be started.
    virtual bool openInEditor(const std::string& path) = 0;

    // The command of the per-user start-at-log-on entry called name; empty
    // when there is no such entry or it starts nothing.
    virtual std::string autostartCommand(const std::string& name) = 0;
    // Creates or rewrites the entry called name so that it starts the
    // executable (a full path). False when it could not be written.
    virtual bool writeAutostart(const std::string& name, const std::string& executable) = 0;
    // Removes the entry; true when it is gone (also when there was none).
    virtual bool removeAutostart(const std::string& name) = 0;
    // Creates or rewrites the desktop shortcut called name, which starts the
    // executable (a full path) in the working folder. False on failure.
    virtual bool createDesktopShortcut(const std::string& name, const std::string& executable,
                                       const std::string& workingFolder) = 0;
    // Deletes the shortcut when it exists; false when it could not be deleted.
    virtual bool deleteDesktopShortcut(const std::string& name) = 0;
    // Hands a mailto: link to the user's mail program. False on failure.
    virtual bool openMailLink(const std::string& link) = 0;
};

}  // namespace tarvel
