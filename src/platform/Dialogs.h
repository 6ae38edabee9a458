#pragma once
// Modal message boxes and the single-line input box, brought to the front.

#include <string>

namespace tarvel {

enum class Icon { None, Critical, Exclamation, Question, Information };
enum class Buttons { Ok, YesNo };
enum class Answer { Ok, Yes, No };

class Dialogs {
  public:
    virtual ~Dialogs() = default;
    // The details, when not empty, say why: a box shows them on request.
    virtual Answer messageBox(const std::string& title, const std::string& text, Icon icon,
                              Buttons buttons, Answer defaultButton,
                              const std::string& details) = 0;
    // The typed text; empty text when the user cancelled.
    virtual std::string inputBox(const std::string& prompt, const std::string& title,
                                 const std::string& proposed) = 0;
};

}  // namespace tarvel
