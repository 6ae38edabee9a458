#pragma once
// The desktop program as it runs: the real platform services, the lock that
// keeps a second instance out, the worker thread the core runs on (made
// here, joined at the end) and the windows. Made once the QApplication
// exists.

#include "mainwindow/DesktopApp.h"
#include "mainwindow/InstanceLock.h"
#include "mainwindow/DesktopPlatform.h"
#include "platform/qt/WorkerThread.h"

namespace tarvel {

class DesktopProgram {
  public:
    explicit DesktopProgram(const std::string& programFolder);
    DesktopApp& app() { return app_; }
    // Ends the program at once: no window event runs any more.
    void quit(int code);
    // How long the end waits for the broker, at most.
    static constexpr int PublishingStopWait = 1000;

  private:
    DesktopPlatform platform_;
    InstanceLock block_;
    WorkerThread worker_;
    DesktopApp app_;
};

}  // namespace tarvel
