#pragma once
// The desktop conveniences on a freedesktop desktop: the default
// application for a file or a mail link, the XDG autostart entry and the
// launcher file on the desktop. Nothing goes through a shell, so folder names
// with blanks or shell characters are safe.

#include <string>

#include "platform/DesktopShell.h"

namespace tarvel {

// The Exec value that starts the executable: its full path in double quotes,
// with the escapes the desktop-entry format asks for.
std::string DesktopExecValue(const std::string& executable);
// A string value of a desktop entry, with its escapes.
std::string DesktopStringValue(const std::string& text);
// The raw value of key in the group [Desktop Entry]; empty when absent.
std::string DesktopEntryValue(const std::string& content, const std::string& key);

class QtDesktopShell : public DesktopShell {
  public:
    bool openInEditor(const std::string& path) override;
    std::string autostartCommand(const std::string& name) override;
    bool writeAutostart(const std::string& name, const std::string& executable) override;
    bool removeAutostart(const std::string& name) override;
    bool createDesktopShortcut(const std::string& name, const std::string& executable,
                               const std::string& workingFolder) override;
    bool deleteDesktopShortcut(const std::string& name) override;
    bool openMailLink(const std::string& link) override;

    // $XDG_CONFIG_HOME/autostart, or ~/.config/autostart.
    static std::string autostartFolder();
    // The desktop folder of the XDG user directories.
    static std::string desktopFolder();
};

}  // namespace tarvel
