#include "ModbusBridge.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvel::sim {

namespace {

constexpr int kFullTable = 65536;

void MakeNonBlocking(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

}  // namespace

Mapping NewFullMapping() {
    return Mapping(modbus_mapping_new(kFullTable, kFullTable, kFullTable, kFullTable));
}

ModbusBridge::~ModbusBridge() {
    if (context_ != nullptr) modbus_free(context_);
    if (libraryEnd_ >= 0) ::close(libraryEnd_);
    if (ourEnd_ >= 0) ::close(ourEnd_);
}

bool ModbusBridge::open(Framing framing, std::string& error) {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        error = std::string("socketpair: ") + std::strerror(errno);
        return false;
    }
    libraryEnd_ = ends[0];
    ourEnd_ = ends[1];
    MakeNonBlocking(libraryEnd_);
    MakeNonBlocking(ourEnd_);
    // The device name and the address are never opened: the context works
    // on the socket.
    context_ = framing == Framing::Rtu ? modbus_new_rtu("simulated-line", 9600, 'N', 8, 1)
                                       : modbus_new_tcp("127.0.0.1", MODBUS_TCP_DEFAULT_PORT);
    if (context_ == nullptr || modbus_set_socket(context_, libraryEnd_) != 0) {
        error = std::string("libmodbus: ") + modbus_strerror(errno);
        return false;
    }
    // The whole frame is already in the socket when libmodbus reads it; a
    // frame cut short is given up after this short wait.
    modbus_set_byte_timeout(context_, 0, 20000);
    modbus_set_indication_timeout(context_, 0, 100000);
    // libmodbus waits this long before it answers a request it finds wrong
    // (a quantity out of range); the device answers at once.
    modbus_set_response_timeout(context_, 0, 1000);
    return true;
}

Bytes ModbusBridge::take(int fd) {
    Bytes bytes;
    std::uint8_t buffer[512];
    ssize_t count;
    while ((count = ::read(fd, buffer, sizeof buffer)) > 0) {
        bytes.insert(bytes.end(), buffer, buffer + count);
    }
    return bytes;
}

Bytes ModbusBridge::receive(std::uint8_t node, std::span<const std::uint8_t> frame, Bytes& rest,
                            std::string& error) {
    rest.clear();
    take(libraryEnd_);
    if (modbus_set_slave(context_, node) != 0 ||
        ::write(ourEnd_, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) {
        error = std::strerror(errno);
        return {};
    }
    std::uint8_t request[MODBUS_MAX_ADU_LENGTH];
    const int length = modbus_receive(context_, request);
    const int cause = errno;
    rest = take(libraryEnd_);
    if (length <= 0) {
        error = length == 0 ? "ignored" : modbus_strerror(cause);
        return {};
    }
    return Bytes(request, request + length);
}

Bytes ModbusBridge::reply(const Bytes& request, modbus_mapping_t* mapping) {
    take(ourEnd_);
    if (modbus_reply(context_, request.data(), static_cast<int>(request.size()), mapping) <= 0) {
        return {};
    }
    Bytes answer(MODBUS_MAX_ADU_LENGTH);
    const ssize_t count = ::read(ourEnd_, answer.data(), answer.size());
    answer.resize(count > 0 ? static_cast<std::size_t>(count) : 0);
    return answer;
}

}  // namespace tarvel::sim
