#pragma once
// The named pipe through which a test drives the simulator, one command per
// line ("unplug", "plug", "reload", "drop").

#include <string>
#include <vector>

namespace tarvel::sim {

class ControlFifo {
  public:
    ControlFifo() = default;
    ControlFifo(const ControlFifo&) = delete;
    ControlFifo& operator=(const ControlFifo&) = delete;
    ~ControlFifo() { remove(); }

    // Creates the pipe at `path` (an old pipe there is replaced) and opens it.
    bool create(const std::string& path, std::string& error);
    // Closes and deletes the pipe.
    void remove();

    int fd() const { return reader_; }
    // The complete lines that have arrived, without their line ends.
    std::vector<std::string> readLines();

  private:
    std::string path_;
    int reader_ = -1;
    int keeper_ = -1;  // our own writer: the pipe never reports end of file
    std::string partial_;
};

}  // namespace tarvel::sim
