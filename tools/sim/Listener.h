#pragma once
// A listening TCP socket on 127.0.0.1 for the network side of the
// simulator. libmodbus opens it; the connections it accepts carry Modbus
// TCP or plain RTU frames, as the simulator serves them.

#include <string>

namespace tarvel::sim {

class Listener {
  public:
    Listener() = default;
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;
    ~Listener() { close(); }

    // Listens on 127.0.0.1:port; port 0 lets the system pick a free one.
    bool open(int port, std::string& error);
    void close();

    int fd() const { return fd_; }
    // The port actually bound.
    int port() const { return port_; }
    // A connection waiting to be taken (not blocking, without delay on
    // sending), or -1 when none is waiting.
    int accept() const;

  private:
    int fd_ = -1;
    int port_ = 0;
};

}  // namespace tarvel::sim
