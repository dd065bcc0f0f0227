// A TCP server on 127.0.0.1 for tests of the connection: one listener on a free port, one
// accepted connection, whole writes and exact reads.
#pragma once

#include <arpa/inet.h>
#include <cstdint>
#include <netinet/in.h>
#include <string>
#include <string_view>
#include <sys/socket.h>
#include <unistd.h>

class LoopbackServer {
  public:
    LoopbackServer() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 4);
        socklen_t size = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
    }
    ~LoopbackServer() {
        closeConnection();
        if (listener_ >= 0) ::close(listener_);
    }
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const { return port_; }
    bool accept() {
        connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        return connection_ >= 0;
    }
    // One write call, so that bytes sent together arrive together.
    bool send(std::string_view bytes) {
        return ::send(connection_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
               static_cast<ssize_t>(bytes.size());
    }
    std::string receiveExactly(std::size_t size) {
        std::string bytes(size, '\0');
        std::size_t got = 0;
        while (got < size) {
            const ssize_t part = ::recv(connection_, bytes.data() + got, size - got, 0);
            if (part <= 0) break;
            got += static_cast<std::size_t>(part);
        }
        bytes.resize(got);
        return bytes;
    }
    void closeConnection() {
        if (connection_ >= 0) ::close(connection_);
        connection_ = -1;
    }
    // Frees the port so that a connection to it is refused.
    void closeListener() {
        ::close(listener_);
        listener_ = -1;
    }

  private:
    int listener_ = -1;
    int connection_ = -1;
    std::uint16_t port_ = 0;
};
