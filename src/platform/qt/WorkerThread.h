#pragma once
// One thread with its own Qt event loop, for the work the window must not
// wait for. Its owner makes it and joins it (stop() or the destructor);
// jobs run on it one after the other, in the order they were posted.

#include <QThread>
#include <functional>
#include <memory>

namespace tarvel {

class WorkerThread {
  public:
    WorkerThread();
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Runs `job` on the thread after the jobs posted before it.
    void post(std::function<void()> job);
    // Runs `job` on the thread and returns when it is done. Never from the
    // thread itself.
    void call(const std::function<void()>& job);
    // Ends the event loop once the running job returns, and joins;
    // `whileWaiting` runs now and then meanwhile, on the caller's thread.
    void stop(const std::function<void()>& whileWaiting = {});
    bool isCurrent() const { return QThread::currentThread() == &thread_; }
    // An object that lives on the thread, for queued calls and timers.
    QObject* context() const { return context_.get(); }

  private:
    QThread thread_;
    std::unique_ptr<QObject> context_;
};

}  // namespace tarvel
