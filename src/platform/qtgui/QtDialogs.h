#pragma once
// Message boxes and the input box on Qt Widgets: modal, above every other
// window, brought to the front.

#include "platform/Dialogs.h"

namespace tarvel {

class QtDialogs : public Dialogs {
  public:
    Answer messageBox(const std::string& title, const std::string& text, Icon icon, Buttons buttons,
                      Answer defaultButton, const std::string& details) override;
    std::string inputBox(const std::string& prompt, const std::string& title,
                         const std::string& proposed) override;
};

}  // namespace tarvel
