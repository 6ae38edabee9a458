#pragma once
// Signals turned into bytes on a pipe (the self-pipe pattern): the handler
// only writes the signal's number, and the program reads the numbers back
// in its own loop, from a poll(2) or an event-loop notifier on `fd()`.
// One per process.

#include <initializer_list>
#include <optional>

namespace tarvel {

class SignalPipe {
  public:
    // Routes the given signals into the pipe. False when the pipe or a
    // handler could not be set up.
    static bool Install(std::initializer_list<int> numbers);
    // Puts the default handlers back and closes the pipe.
    static void Remove();
    // The end to watch for reading; -1 when not installed.
    static int fd();
    // The next signal that arrived, without blocking; none when none waits.
    static std::optional<int> Next();
};

// A write past the process's file-size limit (RLIMIT_FSIZE) then fails with
// EFBIG, as on a full disk, instead of ending the program with SIGXFSZ. Each
// program calls it first thing.
void IgnoreFileSizeSignal();

}  // namespace tarvel
