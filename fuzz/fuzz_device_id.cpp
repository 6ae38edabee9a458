// Device identification answers: any bytes after a request of function
// 43/14 are a whole frame or not by the length their objects give, checked
// as the master checks them (RTU and Modbus TCP), and a complete answer's objects parse into
// texts of printable ASCII that its bytes hold.

#include <cstdint>
#include <cstdlib>

#include "commissioning/DeviceIdentity.h"
#include "modbus/Frame.h"

namespace {

void require(bool holds) {
    if (!holds) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tarvel;
    const Bytes bytes(data, data + size);
    Bytes request{0x05};
    const Bytes pdu = DeviceIdPdu(0);
    request.insert(request.end(), pdu.begin(), pdu.end());
    const std::uint16_t crc = CalcolaCRC(request);
    request.push_back(static_cast<std::uint8_t>(crc & 0xFF));
    request.push_back(static_cast<std::uint8_t>(crc >> 8));

    const FrameAtFront front = RtuFrameAtFront(bytes);
    require(front.kind != FrameAtFront::Whole || (front.length <= size && front.length <= 256));
    const TransactionResult verdict = CheckAnswer(request, bytes);
    if (verdict == TransactionResult::Complete && bytes[1] == DeviceIdFunction)
        require(front.kind == FrameAtFront::Whole && bytes[0] == 0x05);
    if (front.kind == FrameAtFront::Whole && bytes[1] == DeviceIdFunction) {
        const Bytes mei(bytes.begin() + 2, bytes.begin() + static_cast<std::ptrdiff_t>(front.length - 2));
        const auto answer = ParseDeviceId(mei);
        require(answer.has_value());
        for (const auto& [id, text] : answer->objects)
            for (const char c : text) require(c >= 0x20 && c < 0x7F);
    }
    // The same bytes as the Modbus TCP answer: complete only when whole.
    const Bytes mbap = TcpFrame(0x05, pdu, 0x1234);
    if (CheckTcpAnswer(mbap, bytes) == TransactionResult::Complete) {
        const FrameAtFront tcp = TcpFrameAtFront(bytes);
        require(tcp.kind == FrameAtFront::Whole && tcp.length == size && bytes[6] == 0x05);
        require(ParseDeviceId(Bytes(bytes.begin() + 8, bytes.end())).has_value());
    }
    // Any bytes as the MEI part alone.
    if (const auto answer = ParseDeviceId(bytes))
        for (const auto& [id, text] : answer->objects) require(text.size() < size);
    return 0;
}
