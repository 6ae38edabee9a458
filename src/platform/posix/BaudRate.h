#pragma once
// Sets a baud rate that termios has no constant for (250000, 1000000, ...),
// through the kernel's termios2 interface. Kept apart because its header
// cannot live beside <termios.h>.

namespace tarvel {

bool SetCustomBaudRate(int fd, int baud);

}  // namespace tarvel
