#include "platform/qt/QtClock.h"

#include <QCoreApplication>
#include <QTimer>
#include <thread>

namespace tarvel {
namespace {

// A window timer: fires every interval while enabled. An interval of 0 keeps
// it silent, as a window timer with no interval never fires.
class QtTimer : public Timer {
  public:
    QtTimer() {
        timer_.setTimerType(Qt::PreciseTimer);
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            if (handler_) handler_();
        });
    }
    void setInterval(Millis interval) override {
        interval_ = interval;
        timer_.setInterval(static_cast<int>(interval.count()));
        apply();
    }
    Millis interval() const override { return interval_; }
    void setEnabled(bool enabled) override {
        enabled_ = enabled;
        apply();
    }
    bool enabled() const override { return enabled_; }
    void onTimeout(std::function<void()> handler) override { handler_ = std::move(handler); }

  private:
    // Starting an active QTimer restarts its interval from now.
    void apply() {
        if (enabled_ && interval_.count() > 0)
            timer_.start();
        else
            timer_.stop();
    }

    QTimer timer_;
    Millis interval_{0};
    bool enabled_ = false;
    std::function<void()> handler_;
};

}  // namespace

[[gnu::hot]] TimePoint QtClock::now() const { return std::chrono::steady_clock::now(); }

void QtClock::sleep(Millis duration) {
    if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

std::unique_ptr<Timer> QtClock::createTimer() { return std::make_unique<QtTimer>(); }

}  // namespace tarvel
