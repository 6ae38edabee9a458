#include "modbus/Framing.h"

#include "modbus/Frame.h"

namespace tarvel {
namespace {

[[gnu::hot]] void rtuRequest(Bytes& frame, std::uint8_t node, const Bytes& pdu, std::uint16_t) {
    frame.assign(1, node);
    frame.insert(frame.end(), pdu.begin(), pdu.end());
    const std::uint16_t crc = CalcolaCRC(frame);
    frame.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<std::uint8_t>(crc >> 8));
}

}  // namespace

const Framing FramingRtu{
    1, 2, rtuRequest, CheckAnswer, ExceptionAnswer, RtuFrameAtFront, RtuAnswers};
const Framing FramingTcp{
    7, 0, SetTcpFrame, CheckTcpAnswer, TcpExceptionAnswer, TcpFrameAtFront, TcpAnswers};

[[gnu::hot]] int Framing::answerLength(int function, int quantity) const {
    // The RTU answer has one byte of node and two of CRC around the rest.
    const int rtu = AnswerLength(function, quantity);
    return rtu == 0 ? 0 : rtu - 3 + static_cast<int>(header + trailer);
}

const Framing& FramingOf(LinkKind link) {
    return link == LinkKind::ModbusTcp ? FramingTcp : FramingRtu;
}

}  // namespace tarvel
