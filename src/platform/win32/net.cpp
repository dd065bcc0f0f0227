// TCP connection to the game server through Winsock 2.
//
// [X] WSAStartup(2.2) / WSACleanup around the program's networking
// [X] IPv4 stream socket; the address is parsed with inet_pton, so only dotted-decimal text works
// [X] blocking connect with the system's own time-out
// [X] one send per message; a short send is reported, never completed
// [X] blocking receive; receive with a time limit (select) for joining a split message
// [X] sockets are not inherited by the game client or a new launcher
#include "platform/net.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>

namespace platform {

namespace {

int clampedSize(std::size_t size) {
    return size > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(size);
}

} // namespace

bool startNetworking() {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void stopNetworking() {
    WSACleanup();
}

SocketHandle createTcpSocket() {
    const SOCKET handle =
        WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    return handle == INVALID_SOCKET ? invalidSocket : static_cast<SocketHandle>(handle);
}

ConnectResult connectSocket(SocketHandle socket, const std::string& address, std::uint16_t port) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &target.sin_addr) != 1) return ConnectResult::badAddress;
    if (::connect(static_cast<SOCKET>(socket), reinterpret_cast<const sockaddr*>(&target), sizeof target) ==
        0)
        return ConnectResult::connected;
    return ConnectResult::failed;
}

long sendBytes(SocketHandle socket, const void* data, std::size_t size) {
    const int sent =
        ::send(static_cast<SOCKET>(socket), static_cast<const char*>(data), clampedSize(size), 0);
    return sent == SOCKET_ERROR ? -1 : static_cast<long>(sent);
}

long receiveBytes(SocketHandle socket, void* buffer, std::size_t size) {
    const int received =
        ::recv(static_cast<SOCKET>(socket), static_cast<char*>(buffer), clampedSize(size), 0);
    return received == SOCKET_ERROR ? -1 : static_cast<long>(received);
}

long receiveBytesWithin(SocketHandle socket, void* buffer, std::size_t size, int timeoutMs) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(static_cast<SOCKET>(socket), &readable);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int ready = ::select(0, &readable, nullptr, nullptr, &limit);
    if (ready == SOCKET_ERROR) return -1;
    if (ready == 0) return receiveTimedOut;
    // Readable also covers a closed peer and a pending error; recv reports those as 0 and -1.
    return receiveBytes(socket, buffer, size);
}

void closeSocket(SocketHandle socket) {
    if (socket != invalidSocket) ::closesocket(static_cast<SOCKET>(socket));
}

} // namespace platform
