#pragma once
// A thread of its own for name lookups, which have no time limit of their
// own: the caller waits for a lookup until its deadline at most, and a
// lookup that runs past it finishes on the thread, its result unread. The
// thread is joined before the next lookup starts, and by the destructor,
// which waits for a lookup still under way.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tarvel {

class LookupThread {
  public:
    using Deadline = std::chrono::steady_clock::time_point;

    LookupThread() = default;
    ~LookupThread();
    LookupThread(const LookupThread&) = delete;
    LookupThread& operator=(const LookupThread&) = delete;

    // Runs `lookup` on the thread: true when it finished before the
    // deadline and before `cancelled` (asked every 50 ms) said true. A
    // lookup still running from before is waited for first, within the same
    // limits. `lookup` must keep what it writes alive itself.
    bool run(std::function<void()> lookup, Deadline deadline,
             const std::function<bool()>& cancelled = {});

  private:
    bool wait(Deadline deadline, const std::function<bool()>& cancelled);

    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = true;
    std::thread thread_;
};

}  // namespace tarvel
