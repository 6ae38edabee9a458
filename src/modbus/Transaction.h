#pragma once
// One exchange on the line as a value: the read request that went out, what
// came back, how it ended and the data it carried.

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "modbus/TransactionResult.h"
#include "platform/SerialPort.h"

namespace tarvel {

// The most coils or inputs, and registers, one read request may ask for.
inline constexpr int MaxBlockBits = 2000;
inline constexpr int MaxBlockRegisters = 125;

struct Transaction {
    std::uint8_t node = 0;
    std::uint8_t function = 0;
    std::uint16_t address = 0;
    std::uint16_t quantity = 0;
    // Nothing was sent (a stop, or no read to make): TimeOut, and `sent`
    // is empty.
    TransactionResult outcome = TransactionResult::TimeOut;
    std::uint8_t exceptionCode = 0;  // with outcome Exception
    Bytes sent;                      // the request frame
    Bytes received;                  // the bytes taken as its answer, whole or in part
    // With outcome Complete: functions 3 and 4, one a register; functions 1
    // and 2, the answer's data bytes as they came, eight items a byte from
    // its lowest bit.
    std::vector<std::uint16_t> registers;
    Bytes bits;
    // From the request's end on the line to the end of the wait.
    std::chrono::microseconds duration{0};

    bool ok() const { return outcome == TransactionResult::Complete; }
    // The item at `addr` of a complete answer: its register, or its
    // coil or input as 0 or 1; nothing when the answer does not hold it.
    std::optional<std::uint16_t> item(std::uint32_t addr) const;
    // The first item as a read of one item takes it: the register, or the
    // whole data byte of a coil or input.
    std::uint16_t single() const { return registers.empty() ? bits.at(0) : registers.front(); }
};

}  // namespace tarvel
