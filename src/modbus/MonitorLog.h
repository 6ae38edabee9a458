#pragma once
// The serial monitor's two lists: line k of the answers belongs to line k of
// the requests. They are emptied together when the requests reach their
// capacity.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tarvel {

class MonitorLog {
  public:
    static constexpr std::size_t Capacity = 10000;

    const std::vector<std::string>& requests() const { return requests_; }
    const std::vector<std::string>& answers() const { return answers_; }

    // Empties both lists first when the requests hold Capacity lines.
    void addRequest(std::string line);
    void addAnswer(std::string line);
    void wipe();
    // Removes line index of both lists (where the list has it).
    void removePair(std::size_t index);

    // Grows with every change; a view compares it to know what to redraw.
    std::uint64_t version() const { return version_; }
    // Grows when the lists were emptied or lines removed, not appended.
    std::uint64_t resetVersion() const { return resets_; }

  private:
    std::vector<std::string> requests_;
    std::vector<std::string> answers_;
    std::uint64_t version_ = 0;
    std::uint64_t resets_ = 0;
};

}  // namespace tarvel
