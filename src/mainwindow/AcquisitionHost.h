#pragma once
// The acquisition off the window's thread. The program's logic (Program
// and the start-up's timers) lives on one worker thread with its own event
// loop; the windows send it commands and are shown what it reports as
// copies, through queued calls. The modal boxes the logic raises are shown
// by the window's thread while the logic waits for the answer. Without a
// worker (tests on virtual time) everything runs on the caller's thread
// through the same calls.

#include <QObject>
#include <atomic>
#include <functional>
#include <memory>

#include "platform/Dialogs.h"

namespace tarvel {

class WorkerThread;

class AcquisitionHost {
  public:
    // `worker` null: the logic runs on the caller's thread. `interrupt`
    // ends the logic's running wait at once, from the window's thread.
    AcquisitionHost(WorkerThread* worker, Dialogs& windowDialogs,
                    std::function<void()> interrupt = {});
    ~AcquisitionHost();
    AcquisitionHost(const AcquisitionHost&) = delete;
    AcquisitionHost& operator=(const AcquisitionHost&) = delete;

    // Runs on the logic's thread after what was posted before.
    void post(std::function<void()> job);
    // Runs on the logic's thread and returns when done: making and
    // unmaking the logic.
    void call(const std::function<void()>& job);
    // Runs on the window's thread, in the order posted.
    void toWindow(std::function<void()> job);
    // Runs on the window's thread and returns when done.
    void onWindow(const std::function<void()>& job);
    bool onLogicThread() const;

    // The boxes of the logic, shown by the window's thread.
    Dialogs& dialogs() { return *dialogs_; }

    // The end of the program: the running wait ends at once, the logic
    // finishes its step and its thread is joined. Boxes it raises meanwhile
    // get their default answer. Idempotent.
    void stop();
    bool stopping() const { return stopping_; }

  private:
    WorkerThread* worker_;
    std::function<void()> interrupt_;
    std::unique_ptr<QObject> window_;  // lives on the window's thread
    std::unique_ptr<Dialogs> dialogs_;
    std::atomic<bool> stopping_ = false;
};

}  // namespace tarvel
