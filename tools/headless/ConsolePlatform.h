#pragma once
// The platform services that have no window: messages on stderr, and a
// serial port that only checks its settings.

#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/posix/PosixSerialPort.h"

namespace tarvel {

// Messages go to stderr; questions take their default answer.
class ConsoleDialogs : public Dialogs {
  public:
    Answer messageBox(const std::string& title, const std::string& text, Icon icon, Buttons buttons,
                      Answer defaultButton, const std::string& details) override;
    std::string inputBox(const std::string& prompt, const std::string& title,
                         const std::string& proposed) override;
    struct Message {
        std::string title, text, details;
    };
    // Keeps messages instead of printing them.
    bool quiet = false;
    std::vector<Message> messages;
    static void print(const Message& message);
};

// The real port's checks of numbers and line settings, and of the device
// as an opening would find it, but the device is never opened or locked:
// for checking a settings file without touching the line.
class DryRunPort : public PosixSerialPort {
  public:
    using PosixSerialPort::PosixSerialPort;
    bool open() override { return checkDevice(); }
    void close() override {}
    bool isOpen() const override { return false; }
    bool deviceLost() const override { return false; }
    void discardInput() override {}
    std::size_t bytesWaiting() override { return 0; }
    bool write(const Bytes&) override { return false; }
    Bytes readAll() override { return {}; }
    void waitForInput(TimePoint) override {}
};

}  // namespace tarvel
