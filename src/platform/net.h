// TCP connection to the game server.
//
// [X] IPv4 stream socket, dotted-decimal address parsed with inet_pton, blocking connect
// [X] one send per message; a short send is reported, never completed (as Winsock's send is used)
// [X] sends never raise SIGPIPE: a closed peer is a failed send
// [X] receive with a time limit, for joining a message split over two reads
// [X] WSAStartup/WSACleanup on Windows; nothing to start on POSIX (startNetworking succeeds)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

#ifdef _WIN32
// Winsock's SOCKET, an unsigned pointer-sized number; INVALID_SOCKET is all bits set.
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle invalidSocket = ~SocketHandle{0};
#else
using SocketHandle = int;
inline constexpr SocketHandle invalidSocket = -1;
#endif

enum class ConnectResult { connected, badAddress, failed };

bool startNetworking();
void stopNetworking();
SocketHandle createTcpSocket();
ConnectResult connectSocket(SocketHandle socket, const std::string& address, std::uint16_t port);
// Bytes sent, or -1.
long sendBytes(SocketHandle socket, const void* data, std::size_t size);
// Bytes read, 0 when the peer closed, -1 on error; blocks until something arrives.
long receiveBytes(SocketHandle socket, void* buffer, std::size_t size);
// As receiveBytes, but gives receiveTimedOut when nothing arrived within `timeoutMs`.
inline constexpr long receiveTimedOut = -2;
long receiveBytesWithin(SocketHandle socket, void* buffer, std::size_t size, int timeoutMs);
void closeSocket(SocketHandle socket);

} // namespace platform
