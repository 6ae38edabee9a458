#include "platform/posix/WakeUp.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

namespace tarvel {

WakeUp::WakeUp() : fd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

WakeUp::~WakeUp() {
    if (fd_ >= 0) ::close(fd_);
}

void WakeUp::signal() {
    const std::uint64_t one = 1;
    if (fd_ >= 0) [[maybe_unused]]
        auto n = ::write(fd_, &one, sizeof one);
}

void WakeUp::drain() {
    std::uint64_t count = 0;
    if (fd_ >= 0) [[maybe_unused]]
        auto n = ::read(fd_, &count, sizeof count);
}

}  // namespace tarvel
