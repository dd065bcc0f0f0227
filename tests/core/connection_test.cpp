// The connection end to end over a real loopback socket. Every way through receiveLoop ends the
// process, so each scenario runs in a child process of its own (a death test) and reports a
// broken expectation through its exit code and a line on standard error.
#include <cstdio>
#include <functional>
#include <gtest/gtest.h>
#include <thread>

#include "app/dispatch.h"
#include "core/connection.h"
#include "core/launcher_state.h"
#include "core/protocol.h"
#include "loopback_server.h"
#include "message_recorder.h"
#include "platform/net.h"

using namespace std::string_literals;
using Events = std::vector<std::string>;

namespace {

std::string printable(const Events& events) {
    std::string text;
    for (const auto& event : events) {
        for (const char c : event) {
            char part[8];
            std::snprintf(part, sizeof part, (c >= 32 && c < 127) ? "%c" : "\\x%02x",
                          static_cast<unsigned char>(c));
            text += part;
        }
        text += " | ";
    }
    return text;
}

// Ends the child with 3 and says why when an expectation fails on the server's side.
void require(bool condition, const std::string& what) {
    if (condition) return;
    std::fprintf(stderr, "expectation failed: %s\n", what.c_str());
    std::fflush(stderr);
    std::_Exit(3);
}

void requireEvents(MessageRecorder& recorder, const Events& expected) {
    require(recorder.waitForEvents(expected.size()),
            "events did not arrive: " + printable(recorder.events()));
    waitForUpdateWorker();
    require(recorder.events() == expected, "events were " + printable(recorder.events()));
}

// Connects the launcher's socket to a loopback server, runs `serverSide` against it on a thread
// of its own and then closes the connection, while this thread runs the receive loop.
[[noreturn]] void
runReceiveScenario(std::int32_t accepted,
                   const std::function<void(LoopbackServer&, MessageRecorder&)>& serverSide) {
    static LoopbackServer server;
    static MessageRecorder recorder;
    launcherState.serverAccepted = accepted;
    setMessageHandlers(recorder.handlers());
    launcherState.serverSocket = platform::createTcpSocket();
    require(platform::connectSocket(launcherState.serverSocket, "127.0.0.1", server.port()) ==
                platform::ConnectResult::connected,
            "connect");
    require(server.accept(), "accept");
    std::thread([serverSide] {
        serverSide(server, recorder);
        server.closeConnection();
    }).detach();
    receiveLoop(dispatchMessage);
    std::_Exit(5); // the receive loop never returns
}

class ConnectionDeathTest : public ::testing::Test {
  protected:
    void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

TEST_F(ConnectionDeathTest, two_messages_in_one_write_are_both_handled) {
    EXPECT_EXIT(runReceiveScenario(1,
                                   [](LoopbackServer& server, MessageRecorder& recorder) {
                                       server.send(message(1000, "\x01\x01"
                                                                 "A") +
                                                   message(1002, "\x01"
                                                                 "7"));
                                       requireEvents(recorder, {"news:\x01\x01"
                                                                "A",
                                                                "patch:\x01"
                                                                "7",
                                                                "request:"});
                                   }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(ConnectionDeathTest, three_messages_in_one_write_keep_their_order) {
    EXPECT_EXIT(runReceiveScenario(0,
                                   [](LoopbackServer& server, MessageRecorder& recorder) {
                                       server.send(message(1001, "\x04true") + message(1003, "\x00\x00"s) +
                                                   message(1002, "\x00"s));
                                       requireEvents(recorder, {"accept:\x04true", "integrity:\x00\x00"s,
                                                                "patch:\x00"s, "request:"});
                                   }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(ConnectionDeathTest, a_message_split_across_two_writes_is_joined) {
    EXPECT_EXIT(runReceiveScenario(1,
                                   [](LoopbackServer& server, MessageRecorder& recorder) {
                                       const std::string news = message(1000, "\x02\x05"
                                                                              "first\x06"
                                                                              "second");
                                       server.send(news.substr(0, 9));
                                       std::this_thread::sleep_for(std::chrono::milliseconds(20));
                                       server.send(news.substr(9));
                                       requireEvents(recorder, {"news:" + news.substr(4)});
                                   }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(ConnectionDeathTest, padding_after_a_message_is_dropped_not_joined_with_the_next) {
    EXPECT_EXIT(runReceiveScenario(1,
                                   [](LoopbackServer& server, MessageRecorder& recorder) {
                                       server.send(message(1000, "\x01\x01"
                                                                 "A") +
                                                   std::string(40, '\0'));
                                       requireEvents(recorder, {"news:\x01\x01"
                                                                "A"});
                                       server.send(message(1000, "\x01\x01"
                                                                 "B"));
                                       requireEvents(recorder, {"news:\x01\x01"
                                                                "A",
                                                                "news:\x01\x01"
                                                                "B"});
                                   }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(ConnectionDeathTest, a_truncated_message_is_handled_as_it_stands_when_nothing_follows) {
    EXPECT_EXIT(runReceiveScenario(1,
                                   [](LoopbackServer& server, MessageRecorder& recorder) {
                                       server.send(message(1002, "\x0a"
                                                                 "100"));
                                       requireEvents(recorder, {"patch:\x0a"
                                                                "100",
                                                                "request:"});
                                   }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(ConnectionDeathTest, an_acceptance_of_only_its_code_counts_once_nothing_follows) {
    EXPECT_EXIT(runReceiveScenario(0,
                                   [](LoopbackServer& server, MessageRecorder& recorder) {
                                       server.send(message(1001, ""));
                                       requireEvents(recorder, {"accept:"});
                                       require(launcherState.serverAccepted == 1, "accepted");
                                   }),
                ::testing::ExitedWithCode(0), "");
}

TEST_F(ConnectionDeathTest, the_server_closing_the_connection_ends_the_process_with_zero) {
    EXPECT_EXIT(runReceiveScenario(0, [](LoopbackServer&, MessageRecorder&) {}), ::testing::ExitedWithCode(0),
                "Connection to the server lost");
}

TEST_F(ConnectionDeathTest, nine_failed_sends_are_survived_and_the_tenth_ends_the_process_with_zero) {
    EXPECT_EXIT(
        {
            LoopbackServer server;
            launcherState.serverSocket = platform::createTcpSocket();
            require(platform::connectSocket(launcherState.serverSocket, "127.0.0.1", server.port()) ==
                        platform::ConnectResult::connected,
                    "connect");
            require(server.accept(), "accept");
            // Sends on a socket shut for writing fail with EPIPE, which would be SIGPIPE without
            // MSG_NOSIGNAL; a signal death would not be exit code 0.
            ::shutdown(launcherState.serverSocket, SHUT_WR);
            for (int i = 0; i < 9; ++i) sendIntegrityRequest();
            require(launcherState.sendFailures == 9, "nine failures counted");
            sendHello();
            std::_Exit(4); // the tenth failure must not return
        },
        ::testing::ExitedWithCode(0), "failure 10 of 10");
}

TEST_F(ConnectionDeathTest, connecting_sends_the_hello_and_returns_once_accepted) {
    EXPECT_EXIT(
        {
            static LoopbackServer server;
            static MessageRecorder recorder;
            setMessageHandlers(recorder.handlers());
            launcherState.launcherDigest = "0123456789abcdef0123456789abcdef";
            launcherState.serverSocket = platform::createTcpSocket();
            std::thread([] {
                require(server.accept(), "accept");
                const std::string hello = server.receiveExactly(helloSize);
                require(hello == buildHello("0123456789abcdef0123456789abcdef"), "hello bytes");
                require(launcherState.updatePhase == 1, "update phase 1 once the hello is out");
                require(launcherState.serverAccepted == 0, "not accepted before the answer");
                server.send(message(1001, "\x04true"));
            }).detach();
            require(connectToServer("127.0.0.1", server.port(), dispatchMessage), "connectToServer returned false");
            requireEvents(recorder, {"accept:\x04true"});
            server.closeConnection();
            for (;;) std::this_thread::sleep_for(std::chrono::seconds(1));
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ConnectToServer, an_address_that_is_not_dotted_ipv4_fails_without_closing_the_socket) {
    launcherState.serverSocket = platform::createTcpSocket();
    ASSERT_NE(launcherState.serverSocket, platform::invalidSocket);
    EXPECT_FALSE(connectToServer("game.example", 9538, dispatchMessage));
    EXPECT_FALSE(connectToServer("300.1.2.3", 9538, dispatchMessage));
    EXPECT_NE(launcherState.serverSocket, platform::invalidSocket);
    platform::closeSocket(launcherState.serverSocket);
    launcherState.serverSocket = platform::invalidSocket;
}

TEST(ConnectToServer, a_refused_connection_fails_and_closes_the_socket) {
    std::uint16_t port;
    {
        LoopbackServer server;
        port = server.port();
    }
    launcherState.serverSocket = platform::createTcpSocket();
    ASSERT_NE(launcherState.serverSocket, platform::invalidSocket);
    EXPECT_FALSE(connectToServer("127.0.0.1", port, dispatchMessage));
    EXPECT_EQ(launcherState.serverSocket, platform::invalidSocket);
}

} // namespace
