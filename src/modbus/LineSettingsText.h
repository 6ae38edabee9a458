#pragma once
// The line settings text of a serial port: "9600,N,8,1".

#include <optional>
#include <string>
#include <string_view>

#include "platform/SerialPort.h"

namespace tarvel {

using LineSettings = LineSettings;

// Baud rate (a positive whole number), parity N, E, O, M or S in either
// case, data bits 5 to 8, stop bits 1, 1.5 or 2, separated by commas. A
// UART has 1.5 stop bits only with 5 data bits, and 5 data bits never with
// 2: those texts are refused too.
std::optional<LineSettings> ParseLineSettings(std::string_view text);

// The bits of one character on the line: a start bit, the data bits, the
// parity bit when there is one, the stop bits (9600,N,8,1: 10).
double BitsPerByte(const LineSettings& linea);

// The port's own form, parity in lower case: "9600,n,8,1".
std::string LineSettingsText(const LineSettings& linea);

}  // namespace tarvel
