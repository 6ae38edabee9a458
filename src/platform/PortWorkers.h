#pragma once
// Ports polled at the same time: a worker each, with its own port and a
// thread of its own that runs one job per round. The owner of the service
// starts and joins the threads; the logic hands in the jobs.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/SerialPort.h"

namespace tarvel {

class PortWorkers {
  public:
    virtual ~PortWorkers() = default;

    // At least `count` workers; those there already keep their ports.
    virtual void reserve(std::size_t count) = 0;
    virtual std::size_t size() const = 0;
    // Worker i's port, closed until the logic opens it. Touched by the
    // logic only from its job, or between rounds.
    virtual SerialPort& port(std::size_t worker) = 0;
    // The workers' time: a sleep ends early after interrupt().
    virtual Clock& clock() = 0;
    // What a COM number names: the device or the gateway's address, for
    // telling which profiles share a port.
    virtual std::string deviceOf(int com) const = 0;
    // One round: jobs[i] on worker i, all at the same time; returns when
    // every job has returned.
    virtual void runAll(const std::vector<std::function<void()>>& jobs) = 0;
    // From any thread: every wait of a worker's port and every sleep of its
    // clock ends at once, until resume().
    virtual void interrupt() = 0;
    virtual void resume() = 0;
};

}  // namespace tarvel
