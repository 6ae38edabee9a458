#include "ConsolePlatform.h"

#include <cstdio>

namespace tarvel {

Answer ConsoleDialogs::messageBox(const std::string& title, const std::string& text, Icon, Buttons,
                                  Answer defaultButton, const std::string& details) {
    Message message{title, text, details};
    if (quiet)
        messages.push_back(std::move(message));
    else
        print(message);
    return defaultButton;
}

void ConsoleDialogs::print(const Message& m) {
    std::fprintf(stderr, "%s: %s\n", m.title.c_str(), m.text.c_str());
    // The cause on a line of its own.
    if (!m.details.empty()) std::fprintf(stderr, "%s\n", m.details.c_str());
}

std::string ConsoleDialogs::inputBox(const std::string&, const std::string&, const std::string&) {
    return {};
}

}  // namespace tarvel
