#include "platform/posix/BaudRate.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace tarvel {

bool SetCustomBaudRate(int fd, int baud) {
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD);
    tio.c_cflag |= BOTHER;
    tio.c_ispeed = static_cast<speed_t>(baud);
    tio.c_ospeed = static_cast<speed_t>(baud);
    return ::ioctl(fd, TCSETS2, &tio) == 0;
}

}  // namespace tarvel
