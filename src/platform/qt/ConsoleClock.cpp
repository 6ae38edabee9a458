#include "platform/qt/ConsoleClock.h"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>

namespace tarvel {

void ConsoleClock::watch(int fd, std::function<bool()> onReadable) {
    fd_ = fd;
    onReadable_ = std::move(onReadable);
}

[[gnu::hot]] bool ConsoleClock::waitUntil(TimePoint deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<Millis>(deadline - now()).count();
        pollfd p{fd_, POLLIN, 0};
        const int n =
            ::poll(&p, 1, left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, INT_MAX)));
        if (n < 0 && errno == EINTR) continue;
        if (n > 0 && onReadable_ && onReadable_()) return true;
        if (n <= 0 || now() >= deadline) return false;
    }
}

[[gnu::hot]] void ConsoleClock::sleep(Millis duration) {
    // No pause: what is watched is seen at the next wait.
    if (duration.count() <= 0) return;
    if (fd_ < 0) {
        QtClock::sleep(duration);
        return;
    }
    waitUntil(now() + duration);
}

}  // namespace tarvel
