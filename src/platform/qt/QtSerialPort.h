#pragma once
// The serial line inside a Qt program: the POSIX port, with one notifier on
// its descriptor so that bytes and a device that goes away are taken in
// while the event loop runs, and a wait that lets events run. Without an
// application object it waits as the POSIX port does.

#include <memory>

#include "platform/posix/PosixSerialPort.h"

class QSocketNotifier;
class QTimer;

namespace tarvel {

class QtSerialPort : public PosixSerialPort {
  public:
    explicit QtSerialPort(ComDeviceResolver resolver = DefaultComDevice);
    ~QtSerialPort() override;
    QtSerialPort(const QtSerialPort&) = delete;
    QtSerialPort& operator=(const QtSerialPort&) = delete;

    bool open() override;
    void waitForInput(TimePoint deadline) override;

  protected:
    void descriptorClosing() override;

  private:
    std::unique_ptr<QSocketNotifier> notifier_;
    // A notifier whose descriptor was closed from inside its own signal:
    // disabled, and deleted at the next opening.
    std::unique_ptr<QSocketNotifier> retired_;
    std::unique_ptr<QTimer> waitTimer_;
    bool waitOver_ = false;    // bytes came or the device went: the wait can end
    bool timerFired_ = false;  // the wait's timer fired: check the deadline
};

}  // namespace tarvel
