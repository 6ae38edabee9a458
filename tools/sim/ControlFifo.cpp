#include "ControlFifo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvel::sim {

bool ControlFifo::create(const std::string& path, std::string& error) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (!S_ISFIFO(info.st_mode)) {
            error = path + ": exists and is not a named pipe";
            return false;
        }
        ::unlink(path.c_str());
    }
    if (::mkfifo(path.c_str(), 0600) != 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    path_ = path;
    reader_ = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    keeper_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (reader_ < 0 || keeper_ < 0) {
        error = path + ": " + std::strerror(errno);
        remove();
        return false;
    }
    return true;
}

void ControlFifo::remove() {
    if (reader_ >= 0) ::close(reader_);
    if (keeper_ >= 0) ::close(keeper_);
    reader_ = keeper_ = -1;
    if (!path_.empty()) ::unlink(path_.c_str());
    path_.clear();
}

std::vector<std::string> ControlFifo::readLines() {
    char buffer[256];
    ssize_t count;
    while ((count = ::read(reader_, buffer, sizeof buffer)) > 0) {
        partial_.append(buffer, static_cast<std::size_t>(count));
    }
    std::vector<std::string> lines;
    std::size_t end;
    while ((end = partial_.find('\n')) != std::string::npos) {
        std::string line = partial_.substr(0, end);
        partial_.erase(0, end + 1);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

}  // namespace tarvel::sim
