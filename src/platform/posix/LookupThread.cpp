#include "platform/posix/LookupThread.h"

#include <algorithm>

namespace tarvel {

LookupThread::~LookupThread() {
    if (thread_.joinable()) thread_.join();
}

bool LookupThread::wait(Deadline deadline, const std::function<bool()>& cancelled) {
    std::unique_lock lock(mutex_);
    for (;;) {
        if (finished_) return true;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline || (cancelled && cancelled())) return false;
        done_.wait_until(lock, std::min(deadline, now + std::chrono::milliseconds(50)));
    }
}

bool LookupThread::run(std::function<void()> lookup, Deadline deadline,
                       const std::function<bool()>& cancelled) {
    if (!wait(deadline, cancelled)) return false;
    if (thread_.joinable()) thread_.join();
    {
        std::lock_guard lock(mutex_);
        finished_ = false;
    }
    thread_ = std::thread([this, lookup = std::move(lookup)] {
        lookup();
        std::lock_guard lock(mutex_);
        finished_ = true;
        done_.notify_all();
    });
    return wait(deadline, cancelled);
}

}  // namespace tarvel
