// The answers a Modbus TCP gateway sends back to one read, through the
// master on a fake port in virtual time. The first bytes give the read: the
// function (1 to 4), the quantity (folded into the protocol's limits) and
// whether the rest comes at once or in pieces (a length and a delay byte
// before each piece, the delay counted from the piece before). Whatever comes, the master ends
// within its time-out and takes no data but that of the first whole MBAP frame with the request's
// transaction identifier that is reached by passing over whole frames of other identifiers, each
// shown as a late answer; the data of an accepted read is exactly that frame's. When everything
// comes at once, the read is accepted exactly when that frame is the right answer with nothing
// behind it, and every frame passed over is shown as late.

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "FakeSerialPort.h"
#include "modbus/Transaction.h"
#include "modbus/MBus.h"

namespace {

using tarvel::Bytes;
using tarvel::Millis;

void require(bool holds) {
    if (!holds) std::abort();
}

struct Gateway : tarvel::fakes::FakeSerialPort {
    using FakeSerialPort::FakeSerialPort;
    tarvel::LinkKind linkKind() const override { return tarvel::LinkKind::ModbusTcp; }
};

unsigned word(const Bytes& b, std::size_t i) { return b[i] << 8 | b[i + 1]; }

// What a careful reader finds in the stream: the frames of other
// identifiers passed over, and the first frame with identifier 1.
struct Found {
    int passed = 0;
    std::optional<Bytes> frame;
    std::size_t after = 0;  // bytes behind it
};

Found scan(const Bytes& stream) {
    Found found;
    std::size_t at = 0;
    while (stream.size() - at >= 6) {
        const unsigned follows = word(stream, at + 4);
        if (word(stream, at + 2) != 0 || follows < 2 || follows > 254) break;
        if (stream.size() - at < 6 + follows) break;
        const Bytes frame(stream.begin() + static_cast<std::ptrdiff_t>(at),
                          stream.begin() + static_cast<std::ptrdiff_t>(at + 6 + follows));
        at += 6 + follows;
        if (word(frame, 0) == 1) {
            found.frame = frame;
            found.after = stream.size() - at;
            break;
        }
        ++found.passed;
    }
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const auto function = static_cast<std::uint8_t>(data[0] % 4 + 1);
    const unsigned most = function <= 2 ? tarvel::MaxBlockBits : tarvel::MaxBlockRegisters;
    const auto quantity = static_cast<std::uint16_t>((data[1] << 8 | data[2]) % most + 1);
    const bool pieces = data[3] & 1;
    std::vector<tarvel::fakes::Delivery> deliveries;
    Bytes stream;
    Millis delay{1};
    for (std::size_t i = 4; i < size;) {
        std::size_t length = size - i;
        if (pieces) {
            if (size - i < 2) break;
            length = std::min<std::size_t>(data[i], size - i - 2);
            delay += Millis(data[i + 1] % 50);  // in order, some after the time-out
            i += 2;
        }
        deliveries.push_back({delay, Bytes(data + i, data + i + length)});
        stream.insert(stream.end(), data + i, data + i + length);
        i += length;
    }

    tarvel::fakes::FakeClock clock;
    Gateway port(clock);
    tarvel::MBus master(port, clock);
    require(master.ConfiguraPorta("1", "9600,N,8,1", 0, false, false, false));
    require(master.ApriPorta(true));
    master.ImpostaTimeOut(100);
    master.ImpostaMonitorAttivo(true);
    port.setDevice([&](const Bytes&) { return deliveries; });
    const auto block = master.ReadBlock(function, 0, quantity, 7);
    require(clock.elapsed() <= Millis(100));

    const Found found = scan(stream);
    const int dataBytes = tarvel::AnswerLength(function, quantity) - 5;
    const bool right = found.frame && found.frame->size() == 9u + dataBytes &&
                       word(*found.frame, 4) == 3u + dataBytes && (*found.frame)[6] == 7 &&
                       (*found.frame)[7] == function && (*found.frame)[8] == dataBytes;
    require(block.sent == port.written().back());
    if (block.ok()) {
        require(right);
        require(block.received == *found.frame);
        const Bytes data(found.frame->begin() + 9, found.frame->end());
        if (function <= 2) require(block.bits == data);
        require(block.registers.size() == (function <= 2 ? 0 : data.size() / 2));
        for (std::size_t i = 0; i < block.registers.size(); ++i)
            require(block.registers[i] == (data[2 * i] << 8 | data[2 * i + 1]));
    }
    if (pieces) return 0;
    require(block.ok() == (right && found.after == 0));
    int late = 0;
    for (const std::string& line : master.monitor().answers())
        late += line.ends_with("(Late answer)");
    require(late == found.passed);
    return 0;
}
