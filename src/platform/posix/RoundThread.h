#pragma once
// A thread that runs one round of its owner's work each time it is woken,
// and once per interval when nothing wakes it. Its owner starts it and ends
// it: stop() (or the destructor) lets the running round finish and joins.

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace tarvel {

class RoundThread {
  public:
    RoundThread() = default;
    ~RoundThread();
    RoundThread(const RoundThread&) = delete;
    RoundThread& operator=(const RoundThread&) = delete;

    // Starts the thread with `round`; a thread still running is stopped first.
    void start(std::function<void()> round, std::chrono::milliseconds interval);
    // From any thread: one more round soon. Remembered when nothing runs.
    void wake();
    // Joins the thread, after the round under way; nothing when none runs.
    void stop();

  private:
    void run(const std::function<void()>& round, std::chrono::milliseconds interval);

    std::mutex mutex_;
    std::condition_variable woken_;
    bool wakeUp_ = false;
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace tarvel
