#pragma once
// The core without windows: acquisition from the start, one line per cycle
// on stdout, signals to stop and to reload.

#include <QObject>
#include <QSocketNotifier>
#include <memory>
#include <string>

#include "app/Program.h"

namespace tarvel {

struct RunnerOptions {
    long cycles = 0;  // 0: until stopped
    bool monitor = false;
    bool stats = false;  // one line per node after each cycle
};

class Runner : public MainView {
  public:
    Runner(Program& program, RunnerOptions options);
    ~Runner() override;

    // Loads the settings, sets up profile 0 and starts the acquisition;
    // returns the exit code when it cannot start, 0 when it runs.
    int start();
    // The exit code once the event loop ended.
    int exitCode() const { return exitCode_; }

    // Routes SIGTERM, SIGINT and SIGHUP into the event loop; ignores SIGPIPE.
    static bool installSignals();

    void cycleFinished(const CycleReport& cycleReport) override;
    // One line a cycle: the lines that run are not followed.
    [[gnu::hot]] bool followsLines() const override { return false; }

    // Takes the signals that came: a stop stops the acquisition (the
    // running request ends first), a reload waits for the end of the cycle.
    // True once a stop came.
    bool onSignal();

  private:
    // Lines on standard output; once a write fails (the reader went away),
    // nothing more is printed.
    void print(const std::string& line);
    void flush();
    void printMonitor();
    void printHealth();
    void printPorts(const std::vector<PortActivity>& ports);
    void warnOfGroups();
    void fine(int code);

    Program& program_;
    RunnerOptions options_;
    std::unique_ptr<QSocketNotifier> notifier_;
    bool stopped_ = false;
    bool reloadRequested_ = false;
    bool outputClosed_ = false;
    int exitCode_ = 0;
    std::size_t tx_ = 0, rx_ = 0;
};

}  // namespace tarvel
