#include "platform/net.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include "../core/loopback_server.h"

namespace {

class NetTest : public ::testing::Test {
  protected:
    void SetUp() override {
        socket = platform::createTcpSocket();
        ASSERT_NE(socket, platform::invalidSocket);
    }
    void TearDown() override { platform::closeSocket(socket); }
    void connect() {
        ASSERT_EQ(platform::connectSocket(socket, "127.0.0.1", server.port()),
                  platform::ConnectResult::connected);
        ASSERT_TRUE(server.accept());
    }
    LoopbackServer server;
    platform::SocketHandle socket = platform::invalidSocket;
};

TEST_F(NetTest, sockets_are_not_inherited_by_started_programs) {
    EXPECT_TRUE(::fcntl(socket, F_GETFD) & FD_CLOEXEC);
}

TEST_F(NetTest, only_dotted_ipv4_text_is_an_address) {
    EXPECT_EQ(platform::connectSocket(socket, "localhost", server.port()),
              platform::ConnectResult::badAddress);
    EXPECT_EQ(platform::connectSocket(socket, "", server.port()), platform::ConnectResult::badAddress);
    EXPECT_EQ(platform::connectSocket(socket, "::1", server.port()), platform::ConnectResult::badAddress);
    EXPECT_EQ(platform::connectSocket(socket, "127.0.0.256", server.port()),
              platform::ConnectResult::badAddress);
}

TEST_F(NetTest, a_port_nobody_listens_on_refuses) {
    const std::uint16_t port = server.port();
    server.closeListener();
    EXPECT_EQ(platform::connectSocket(socket, "127.0.0.1", port), platform::ConnectResult::failed);
}

TEST_F(NetTest, bytes_go_both_ways_whole) {
    connect();
    const std::string hello = "hello, server";
    EXPECT_EQ(platform::sendBytes(socket, hello.data(), hello.size()), static_cast<long>(hello.size()));
    EXPECT_EQ(server.receiveExactly(hello.size()), hello);
    ASSERT_TRUE(server.send("answer"));
    char buffer[64];
    EXPECT_EQ(platform::receiveBytes(socket, buffer, sizeof buffer), 6);
    EXPECT_EQ(std::string(buffer, 6), "answer");
}

TEST_F(NetTest, sending_to_a_closed_connection_fails_without_a_signal) {
    connect();
    ::shutdown(socket, SHUT_WR);
    // Without MSG_NOSIGNAL this would raise SIGPIPE and end the test program.
    EXPECT_EQ(platform::sendBytes(socket, "x", 1), -1);
}

TEST_F(NetTest, receive_within_a_limit_tells_silence_from_data_and_from_a_close) {
    connect();
    char buffer[16];
    EXPECT_EQ(platform::receiveBytesWithin(socket, buffer, sizeof buffer, 20), -2);
    ASSERT_TRUE(server.send("abc"));
    EXPECT_EQ(platform::receiveBytesWithin(socket, buffer, sizeof buffer, 5000), 3);
    server.closeConnection();
    EXPECT_EQ(platform::receiveBytesWithin(socket, buffer, sizeof buffer, 5000), 0);
    EXPECT_EQ(platform::receiveBytes(socket, buffer, sizeof buffer), 0);
}

TEST(Net, closing_no_socket_is_harmless) {
    EXPECT_TRUE(platform::startNetworking());
    platform::closeSocket(platform::invalidSocket);
    platform::stopNetworking();
}

} // namespace
