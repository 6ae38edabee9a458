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
};

}  // namespace tarvel
