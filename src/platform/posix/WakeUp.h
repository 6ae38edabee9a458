#pragma once
// A descriptor that another thread makes readable to end a wait at once:
// a wait that polls it beside the port, or a sleep that watches it, returns
// as soon as it is signalled (an eventfd).

namespace tarvel {

class WakeUp {
  public:
    WakeUp();
    ~WakeUp();
    WakeUp(const WakeUp&) = delete;
    WakeUp& operator=(const WakeUp&) = delete;

    // The end to poll for reading; -1 when it could not be made.
    int fd() const { return fd_; }
    // From any thread: the descriptor becomes readable until drained.
    void signal();
    // Makes it unreadable again.
    void drain();

  private:
    int fd_ = -1;
};

}  // namespace tarvel
