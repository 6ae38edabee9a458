#include "platform/posix/SignalPipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <vector>

namespace tarvel {
namespace {

int gPipe[2] = {-1, -1};
std::vector<int> gSignals;

extern "C" void OnSignal(int number) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] auto written = ::write(gPipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

bool SignalPipe::Install(std::initializer_list<int> numbers) {
    if (gPipe[0] < 0 && ::pipe2(gPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : numbers) {
        if (sigaction(number, &action, nullptr) != 0) return false;
        gSignals.push_back(number);
    }
    return true;
}

void IgnoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

void SignalPipe::Remove() {
    for (int number : gSignals) std::signal(number, SIG_DFL);
    gSignals.clear();
    for (int& end : gPipe) {
        if (end >= 0) ::close(end);
        end = -1;
    }
}

int SignalPipe::fd() { return gPipe[0]; }

std::optional<int> SignalPipe::Next() {
    unsigned char number = 0;
    if (gPipe[0] < 0 || ::read(gPipe[0], &number, 1) != 1) return std::nullopt;
    return number;
}

}  // namespace tarvel
