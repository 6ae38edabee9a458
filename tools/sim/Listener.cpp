#include "Listener.h"

#include <fcntl.h>
#include <modbus.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tarvel::sim {

bool Listener::open(int port, std::string& error) {
    close();
    modbus_t* context = modbus_new_tcp("127.0.0.1", port);
    fd_ = context != nullptr ? modbus_tcp_listen(context, 16) : -1;
    const int cause = errno;
    // The socket outlives the context, which only remembers the address.
    if (context != nullptr) modbus_free(context);
    sockaddr_in bound{};
    socklen_t size = sizeof bound;
    if (fd_ < 0 || ::getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &size) != 0) {
        error = "listen on 127.0.0.1:" + std::to_string(port) + ": " +
                (fd_ < 0 ? modbus_strerror(cause) : std::strerror(errno));
        close();
        return false;
    }
    port_ = ntohs(bound.sin_port);
    // A client that gives up before it is taken must not block the loop.
    ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
    return true;
}

void Listener::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    port_ = 0;
}

int Listener::accept() const {
    const int connection = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (connection < 0) return -1;
    // Each answer goes out in one write; it must not wait for the
    // acknowledgement of the one before.
    const int on = 1;
    ::setsockopt(connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return connection;
}

}  // namespace tarvel::sim
