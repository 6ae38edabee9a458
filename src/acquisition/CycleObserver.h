#pragma once
// What the acquisition shows while it runs: the cycle, the execution of a
// line and the serial line tell one observer, which keeps the window's
// state. Every notification has an empty default.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/Chiamata.h"
#include "acquisition/Lamp.h"
#include "acquisition/Reading.h"
#include "platform/Clock.h"

namespace tarvel {

// One port's part of a cycle as measured: the time of the lines that ran
// with its profile in force (each with the pause before it; a serial line
// counts for the port it opens) and the bytes that went either way.
struct PortActivity {
    std::string com;       // the profile's COM number as written
    bool network = false;  // a gateway: no baud rate applies
    double bitsPerByte = 0;
    int baud = 0;
    std::chrono::microseconds time{0};
    std::uint64_t bytes = 0;
};

// One finished acquisition cycle.
struct CycleReport {
    long number = 0;
    int linesRun = 0;
    int failedReads = 0;  // reads the devices did not give
    int noValue = 0;     // reads answered with "no value"
    // The readings of the lines that ran, in their order.
    std::vector<Reading> readings;
    std::vector<std::string> filesWritten;
    std::vector<std::string> outputErrors;
    Millis duration{0};
    // Each port the cycle used, in the order it first used them.
    std::vector<PortActivity> ports;
};

class CycleObserver {
  public:
    virtual ~CycleObserver() = default;
    virtual void lampChanged(Lamp /*lamp*/) {}
    // Line `index` of the list is selected and cut into the detail fields;
    // -1: no line, the detail fields empty.
    virtual void lineSelected(int /*index*/) {}
    // The detail fields and the answer field show what runs: an empty
    // answer while a line starts, a wait's answer while it waits, then the
    // line's answer. The answers go as values; whoever shows them makes
    // their text.
    virtual void fieldsShown(const Chiamata& /*fields*/) {}
    virtual void resultShown(const Risposta& /*result*/) {}
    virtual void answersCleared() {}
    virtual void answerAdded(const Risposta& /*answer*/) {}
    // Acquisition was switched on or off, a cycle began or ended, or the
    // lists were enabled or disabled.
    virtual void stateChanged() {}
    virtual void cycleStarted() {}
    virtual void cycleEnded(const CycleReport& /*report*/) {}
    // A profile was configured: the monitor's caption and the status bar.
    virtual void lineShown(const std::string& /*monitorCaption*/,
                           const std::array<std::string, 6>& /*panels*/) {}
    // A profile cannot be applied; its message follows.
    virtual void lineRefused() {}
};

}  // namespace tarvel
