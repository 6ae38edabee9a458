#include "ConsolePlatform.h"

#include <cstdio>

namespace tarvel {

Answer ConsoleDialogs::messageBox(const std::string& title, const std::string& text, Icon, Buttons,
                                  Answer defaultButton) {
    if (quiet)
        messages.push_back(text);
    else
        std::fprintf(stderr, "%s: %s\n", title.c_str(), text.c_str());
    return defaultButton;
}

std::string ConsoleDialogs::inputBox(const std::string&, const std::string&, const std::string&) {
    return {};
}

bool DryRunPort::setPortNumber(int number) {
    if (number < 1 || number > 255) return false;
    number_ = number;
    return true;
}

bool DryRunPort::setSettings(const LineSettings& line) {
    settings_ = line;
    return true;
}

}  // namespace tarvel
