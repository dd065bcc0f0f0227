// TCP connection to the game server on POSIX sockets (Winsock 2 on Windows).
//
// [X] IPv4 stream socket; the address is parsed with inet_pton, so only dotted-decimal text works
// [X] blocking connect with the system's own time-out; EINTR is not a failure of the connection
// [X] one send per message with MSG_NOSIGNAL: a closed peer is a failed send, never SIGPIPE
// [X] blocking receive; receive with a time limit (poll) for joining a split message
// [ ] WSAStartup/WSACleanup: POSIX has nothing to start, so startNetworking always succeeds
#include "platform/net.h"

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

bool startNetworking() {
    return true;
}

void stopNetworking() {}

SocketHandle createTcpSocket() {
    // Close-on-exec: the game client and a new launcher must not inherit the connection.
    const int handle = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return handle < 0 ? invalidSocket : handle;
}

ConnectResult connectSocket(SocketHandle socket, const std::string& address, std::uint16_t port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &target.sin_addr) <= 0) return ConnectResult::badAddress;
    if (::connect(socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0)
        return ConnectResult::connected;
    if (errno != EINTR) return ConnectResult::failed;
    // An interrupted connect goes on in the background; wait for its outcome.
    pollfd waiter{socket, POLLOUT, 0};
    while (::poll(&waiter, 1, -1) < 0) {
        if (errno != EINTR) return ConnectResult::failed;
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0 || error != 0)
        return ConnectResult::failed;
    return ConnectResult::connected;
}

long sendBytes(SocketHandle socket, const void* data, std::size_t size) {
    ssize_t sent;
    do {
        sent = ::send(socket, data, size, MSG_NOSIGNAL);
    } while (sent < 0 && errno == EINTR);
    return static_cast<long>(sent);
}

long receiveBytes(SocketHandle socket, void* buffer, std::size_t size) {
    ssize_t received;
    do {
        received = ::recv(socket, buffer, size, 0);
    } while (received < 0 && errno == EINTR);
    return static_cast<long>(received);
}

long receiveBytesWithin(SocketHandle socket, void* buffer, std::size_t size, int timeoutMs) {
    pollfd waiter{socket, POLLIN, 0};
    int ready;
    do {
        ready = ::poll(&waiter, 1, timeoutMs);
    } while (ready < 0 && errno == EINTR);
    if (ready < 0) return -1;
    if (ready == 0) return receiveTimedOut;
    // Readable also covers a closed peer and a pending error; recv reports those as 0 and -1.
    return receiveBytes(socket, buffer, size);
}

void closeSocket(SocketHandle socket) {
    if (socket != invalidSocket) ::close(socket);
}

} // namespace platform
