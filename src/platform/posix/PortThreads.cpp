#include "platform/posix/PortThreads.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace tarvel {

void PortThreads::StopClock::sleep(Millis duration) {
    const TimePoint end = now() + duration;
    for (;;) {
        const auto left = std::chrono::ceil<Millis>(end - now()).count();
        if (left <= 0) return;
        pollfd p{stop_.fd(), POLLIN, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (n > 0) return;  // the stop: left readable for the others
        if (n < 0 && errno != EINTR) return;
    }
}

PortThreads::PortThreads(ComDeviceResolver resolver, Clock& timers)
    : resolver_(std::move(resolver)), clock_(timers, stop_) {}

PortThreads::~PortThreads() {
    {
        std::lock_guard lock(mutex_);
        ending_ = true;
    }
    round_.notify_all();
    for (auto& w : workers_)
        if (w->thread.joinable()) w->thread.join();
}

void PortThreads::reserve(std::size_t count) {
    std::lock_guard lock(mutex_);
    while (workers_.size() < count) {
        workers_.push_back(std::make_unique<Worker>(resolver_));
        Worker& w = *workers_.back();
        // Every wait of the port ends while the stop is readable.
        w.port.watchAlso(stop_.fd(), [] {});
        w.thread = std::thread([this, &w] { serve(w); });
    }
}

std::size_t PortThreads::size() const {
    std::lock_guard lock(mutex_);
    return workers_.size();
}

void PortThreads::watchAlso(int fd, std::function<void()> onReadable) {
    alsoFd_ = fd;
    onAlsoReadable_ = std::move(onReadable);
}

void PortThreads::serve(Worker& w) {
    std::size_t seen = 0;
    std::unique_lock lock(mutex_);
    for (;;) {
        round_.wait(lock, [&] { return ending_ || roundNumber_ != seen; });
        if (ending_) return;
        seen = roundNumber_;
        if (!w.job) continue;
        std::function<void()> job = std::move(w.job);
        lock.unlock();
        job();
        lock.lock();
        w.job = nullptr;
        if (--pending_ == 0) {
            done_.signal();
            finished_.notify_all();
        }
    }
}

void PortThreads::runAll(const std::vector<std::function<void()>>& jobs) {
    reserve(jobs.size());
    {
        std::lock_guard lock(mutex_);
        pending_ = 0;
        for (std::size_t i = 0; i < jobs.size(); ++i) {
            if (!jobs[i]) continue;
            workers_[i]->job = jobs[i];
            ++pending_;
        }
        if (pending_ == 0) return;
        ++roundNumber_;
    }
    round_.notify_all();
    while (done_.fd() >= 0) {
        {
            std::lock_guard lock(mutex_);
            if (pending_ == 0) return;
        }
        pollfd p[2] = {{done_.fd(), POLLIN, 0}, {alsoFd_, POLLIN, 0}};
        const int n = ::poll(p, alsoFd_ >= 0 ? 2 : 1, -1);
        if (n < 0 && errno != EINTR) break;
        if (n <= 0) continue;
        if (p[0].revents != 0) done_.drain();
        if (alsoFd_ >= 0 && p[1].revents != 0 && onAlsoReadable_) onAlsoReadable_();
    }
    // Without the descriptor the jobs are still waited for, without the
    // other descriptor.
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [this] { return pending_ == 0; });
}

}  // namespace tarvel
