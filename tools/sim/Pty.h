#pragma once
// The simulated line: a pseudo-terminal whose slave side (/dev/pts/N) the
// program under test opens as its serial port, and a symlink that names it.

#include <string>

namespace tarvel::sim {

class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;
    ~PseudoTerminal() { close(); }

    // Opens a new pty in raw mode. The master is non-blocking. The slave side
    // is also kept open here, so that the master does not report hang-up
    // while no program has the port open.
    bool open(std::string& error);
    // Closing is the unplug: a program that has the slave open sees hang-up.
    void close();

    bool isOpen() const { return master_ >= 0; }
    int master() const { return master_; }
    const std::string& slavePath() const { return slavePath_; }

  private:
    int master_ = -1;
    int slave_ = -1;
    std::string slavePath_;
};

// Makes `link` a symlink to `target`, replacing what was there in one step.
bool PointLink(const std::string& link, const std::string& target, std::string& error);
// Removes `link` when it is a symlink.
void RemoveLink(const std::string& link);

}  // namespace tarvel::sim
