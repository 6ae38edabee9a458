#pragma once
// The platform services that have no window: messages on stderr, and a
// serial port that only checks its settings.

#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/SerialPort.h"

namespace tarvel {

// Messages go to stderr; questions take their default answer.
class ConsoleDialogs : public Dialogs {
  public:
    Answer messageBox(const std::string& title, const std::string& text, Icon icon, Buttons buttons,
                      Answer defaultButton) override;
    std::string inputBox(const std::string& prompt, const std::string& title,
                         const std::string& proposed) override;
    // Keeps messages instead of printing them.
    bool quiet = false;
    std::vector<std::string> messages;
};

// Accepts and keeps settings like a real port, but never opens a device:
// for checking a settings file without touching the line.
class DryRunPort : public SerialPort {
  public:
    bool setPortNumber(int number) override;
    int portNumber() const override { return number_; }
    bool setSettings(const LineSettings& line) override;
    LineSettings settings() const override { return settings_; }
    void setHandshake(Handshake) override {}
    void setNullDiscard(bool) override {}
    void setDtr(bool) override {}
    void setRts(bool) override {}
    bool open() override { return true; }
    void close() override {}
    bool isOpen() const override { return false; }
    bool deviceLost() const override { return false; }
    void discardInput() override {}
    std::size_t bytesWaiting() override { return 0; }
    bool write(const Bytes&) override { return false; }
    Bytes readAll() override { return {}; }
    void waitForInput(TimePoint) override {}
    std::string errorText() const override { return {}; }

  private:
    int number_ = 1;
    LineSettings settings_;
};

}  // namespace tarvel
