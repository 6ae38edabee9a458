#include "modbus/MonitorLog.h"

namespace tarvel {

void MonitorLog::addRequest(std::string line) {
    if (requests_.size() >= Capacity) wipe();
    requests_.push_back(std::move(line));
    ++version_;
}

void MonitorLog::addAnswer(std::string line) {
    answers_.push_back(std::move(line));
    ++version_;
}

void MonitorLog::wipe() {
    requests_.clear();
    answers_.clear();
    ++version_;
    ++resets_;
}

void MonitorLog::removePair(std::size_t index) {
    if (index < requests_.size()) requests_.erase(requests_.begin() + static_cast<long>(index));
    if (index < answers_.size()) answers_.erase(answers_.begin() + static_cast<long>(index));
    ++version_;
    ++resets_;
}

}  // namespace tarvel
