#pragma once
// Modbus frames: the read request, RTU with its CRC or Modbus TCP with its
// MBAP header, and the check of an answer before its data is used.

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "modbus/TransactionResult.h"
#include "platform/SerialPort.h"

namespace tarvel {

// CRC-16/MODBUS of the bytes (reflected polynomial 0xA001, start 0xFFFF).
std::uint16_t CalcolaCRC(const Bytes& bytes);

// The silence that ends an RTU frame at `baud`: three and a half
// characters of 11 bits, 1750 microseconds above 19200 baud; 0 for no baud.
std::chrono::microseconds InterFrameSilence(int baud);

// How the bytes at the front of what came stand: a whole frame of `length`
// bytes; the start of one (`length` once its header tells it, else 0); or
// bytes that start no frame the master knows.
struct FrameAtFront {
    enum Kind : std::uint8_t { Incomplete, Whole, NotAFrame };
    Kind kind = Incomplete;
    std::size_t length = 0;
};
// RTU: an answer to a read (functions 1 to 4), an exception answer, a
// fence's echo (function 8) or a device identification (function 43);
// whole only with its CRC right and within the 256 bytes a frame may have.
FrameAtFront RtuFrameAtFront(const Bytes& bytes);
// Modbus TCP: an MBAP header of protocol 0 and a length of 2 to 254, and
// the bytes it counts.
FrameAtFront TcpFrameAtFront(const Bytes& bytes);
// True when a whole frame is the answer to the request: RTU, from its node
// with its function and the length that a read of it gives, or its
// exception answer; Modbus TCP, with its transaction identifier.
bool RtuAnswers(const Bytes& request, ByteView frame);
bool TcpAnswers(const Bytes& request, ByteView frame);

// node, function, data[0 .. length-5], CRC low, CRC high.
Bytes CostruisciTrama(int frameLength, std::uint8_t node, std::uint8_t function, const Bytes& payload);

// The protocol data unit of a read request: function, address, quantity.
Bytes ReadPdu(std::uint8_t function, std::uint16_t addr, std::uint16_t quantity);
// The same into `pdu`, in the room it has.
void SetReadPdu(Bytes& pdu, std::uint8_t function, std::uint16_t addr, std::uint16_t quantity);

// Read Device Identification (function 43, MEI type 14), basic objects
// (read code 1) from `firstObject` on.
inline constexpr std::uint8_t DeviceIdFunction = 0x2B;
inline constexpr std::uint8_t DeviceIdMei = 0x0E;
Bytes DeviceIdPdu(std::uint8_t firstObject);
// The length of the identification answer whose function code stands at
// `function` in `bytes`, up to the end of its objects (no CRC): 0 while it
// is incomplete; nothing when it cannot be one.
std::optional<std::size_t> DeviceIdLength(const Bytes& bytes, std::size_t function);

// The RTU read request for `quantity` items from a 16-bit address.
Bytes ReadFrame(std::uint8_t node, std::uint8_t function, std::uint16_t addr,
                   std::uint16_t quantity = 1);

// Length of the answer to a read of `quantity` items: 5 bytes around the
// data, one data byte per 8 bits (functions 1 and 2) or two per register (3
// and 4); 0 for any other code. One item: 6 and 7.
int AnswerLength(int function, int quantity = 1);
// Length of the answer the read request asks for; 0 when it is not one.
int AnswerLengthFor(const Bytes& request);

// Checks a complete-length answer against its request: CRC, node, function
// code and byte count. Complete, CrcError or WrongAnswer.
TransactionResult CheckAnswer(const Bytes& request, const Bytes& answer);

// True for a complete exception answer to the request: node, function code
// + 0x80, exception code, valid CRC.
bool ExceptionAnswer(const Bytes& request, const Bytes& answer);

// Modbus TCP: transaction identifier, protocol 0, the length of what
// follows, the unit identifier (the node), then the PDU; no CRC.
Bytes TcpFrame(std::uint8_t unit, const Bytes& pdu, std::uint16_t transazione);
// The same into `frame`, in the room it has.
void SetTcpFrame(Bytes& frame, std::uint8_t unit, const Bytes& pdu, std::uint16_t transazione);
// Checks a complete-length answer against its MBAP read request:
// transaction, protocol, length, unit, function code and byte count.
// Complete or WrongAnswer.
TransactionResult CheckTcpAnswer(const Bytes& request, const Bytes& answer);
// True for a complete MBAP exception answer to the request.
bool TcpExceptionAnswer(const Bytes& request, const Bytes& answer);

}  // namespace tarvel
