#include "platform/posix/RoundThread.h"

namespace tarvel {

RoundThread::~RoundThread() { stop(); }

void RoundThread::start(std::function<void()> round, std::chrono::milliseconds interval) {
    stop();
    {
        std::lock_guard lock(mutex_);
        stopping_ = false;
    }
    thread_ = std::thread([this, round = std::move(round), interval] { run(round, interval); });
}

void RoundThread::wake() {
    {
        std::lock_guard lock(mutex_);
        wakeUp_ = true;
    }
    woken_.notify_all();
}

void RoundThread::stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    woken_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void RoundThread::run(const std::function<void()>& round, std::chrono::milliseconds interval) {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        woken_.wait_for(lock, interval, [this] { return wakeUp_ || stopping_; });
        if (stopping_) break;
        wakeUp_ = false;
        lock.unlock();
        round();
        lock.lock();
    }
}

}  // namespace tarvel
