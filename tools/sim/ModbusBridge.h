#pragma once
// libmodbus does the slave's work: it checks each request (length, CRC) and
// builds the normal answer from the node's register mapping. An RTU context
// of libmodbus serves one slave id and swallows the frames of any other, so
// the simulator hands it one frame at a time through a socket pair, with the
// frame's node set as the context's slave, and takes the answer back the
// same way before it goes out on the pty (where faults and delays apply).
// A bridge of Modbus TCP does the same with MBAP requests; its context
// answers whatever unit a request names.

#include <modbus.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tarvel::sim {

using Bytes = std::vector<std::uint8_t>;

// How requests and answers are framed: RTU (node, PDU, CRC) or Modbus TCP
// (MBAP header with the unit, PDU).
enum class Framing { Rtu, Tcp };

struct MappingDeleter {
    void operator()(modbus_mapping_t* mapping) const { modbus_mapping_free(mapping); }
};
using Mapping = std::unique_ptr<modbus_mapping_t, MappingDeleter>;

// All 65536 items of every table, zero.
Mapping NewFullMapping();

class ModbusBridge {
  public:
    ModbusBridge() = default;
    ModbusBridge(const ModbusBridge&) = delete;
    ModbusBridge& operator=(const ModbusBridge&) = delete;
    ~ModbusBridge();

    bool open(Framing framing, std::string& error);

    // Lets libmodbus receive `frame` as a request to `node`. Returns the
    // request it accepted or an empty vector, with the reason in `error`.
    // The bytes of `frame` after the request (or after what libmodbus took
    // for one) are left in `rest`.
    Bytes receive(std::uint8_t node, std::span<const std::uint8_t> frame, Bytes& rest,
                  std::string& error);
    // The normal answer of libmodbus to an accepted request.
    Bytes reply(const Bytes& request, modbus_mapping_t* mapping);

  private:
    // Everything waiting on `fd`.
    Bytes take(int fd);

    modbus_t* context_ = nullptr;
    int libraryEnd_ = -1;  // the context's socket
    int ourEnd_ = -1;
};

}  // namespace tarvel::sim
