#include "platform/qt/QtSerialPort.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QTimer>

namespace tarvel {

QtSerialPort::QtSerialPort(ComDeviceResolver resolver)
    : PosixSerialPort(std::move(resolver)), waitTimer_(std::make_unique<QTimer>()) {
    waitTimer_->setSingleShot(true);
    waitTimer_->setTimerType(Qt::PreciseTimer);
    QObject::connect(waitTimer_.get(), &QTimer::timeout, waitTimer_.get(),
                     [this] { timerFired_ = true; });
}

QtSerialPort::~QtSerialPort() { close(); }

bool QtSerialPort::open() {
    retired_.reset();
    if (!PosixSerialPort::open()) return false;
    if (QCoreApplication::instance()) {
        notifier_ = std::make_unique<QSocketNotifier>(descriptor(), QSocketNotifier::Read);
        // A hang-up wakes the notifier as well; taking in notices it.
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
            takeIn();
            waitOver_ = true;
        });
    }
    return true;
}

void QtSerialPort::descriptorClosing() {
    if (!notifier_) return;
    notifier_->setEnabled(false);
    retired_ = std::move(notifier_);
}

// Lets events run until new bytes arrive, the device is lost or the
// deadline passes: each round blocks in the event dispatcher until something
// happens. The timer is precise so that a time-out ends on time; a closed or
// lost port just lets events run until the deadline.
//
// The timer is left running after a wait and kept by the next one when it
// fires no later than that one's deadline: a master that polls faster than
// its time-out registers a timer about once per time-out instead of once per
// request. A timer that fires early just starts the next round.
void QtSerialPort::waitForInput(TimePoint deadline) {
    if (!QCoreApplication::instance()) {
        PosixSerialPort::waitForInput(deadline);
        return;
    }
    if (inputPending()) return;
    // A wait started by an event inside this one ends this one too when
    // bytes came; the caller then simply waits again.
    waitOver_ = false;
    for (;;) {
        auto remaining =
            std::chrono::ceil<Millis>(deadline - std::chrono::steady_clock::now()).count();
        if (remaining <= 0) {
            QCoreApplication::processEvents();
            break;
        }
        if (!waitTimer_->isActive() || waitTimer_->remainingTime() > remaining)
            waitTimer_->start(static_cast<int>(remaining));
        timerFired_ = false;
        while (!waitOver_ && !timerFired_)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (waitOver_) break;
    }
}

}  // namespace tarvel
