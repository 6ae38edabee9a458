#include "mainwindow/DesktopProgram.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "mainwindow/AcquisitionHost.h"
#include "mainwindow/Widgets.h"

namespace tarvel {

DesktopProgram::DesktopProgram(const std::string& programFolder)
    : platform_(programFolder),
      app_(
          platform_.platform(), platform_.shell, block_,
          [this](int code) { quit(code); }, &worker_,
          [this] {
              app_.program().InterruptWait();
              platform_.wakeUp.signal();
          }) {
    // Hiding the last window into the tray must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(ProgramIcon());
}

void DesktopProgram::quit(int code) {
    // What follows reads the core from this thread: its own is joined first.
    app_.host().stop();
    // The last cycle's rows, written within two seconds at most.
    platform_.history.waitIdle(std::chrono::seconds(2));
    // The broker learns of the end; what it has not taken stays in the
    // journal for the next start.
    app_.program().StopPublishing(PublishingStopWait);
    block_.release();
    std::fflush(nullptr);
    std::_Exit(code);
}

}  // namespace tarvel
