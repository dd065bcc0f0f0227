#include <future>
#include <gtest/gtest.h>
#include <thread>

#include "app/dispatch.h"
#include "core/connection.h"
#include "core/launcher_state.h"
#include "message_recorder.h"

using namespace std::string_literals;
using Events = std::vector<std::string>;

namespace {

const std::string acceptance = message(1001, "\x04true");
const std::string news = message(1000, "\x01\x04news");
const std::string patchList = message(1002, "\x04"
                                            "1001");
const std::string integrityList = message(1003, "\x00\x00"s);

class DispatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        launcherState.serverAccepted = 0;
        setMessageHandlers(recorder.handlers());
    }
    void TearDown() override {
        waitForUpdateWorker();
        setMessageHandlers({});
        launcherState.serverAccepted = 0;
    }
    Events settledEvents() {
        waitForUpdateWorker();
        return recorder.events();
    }
    MessageRecorder recorder;
};

TEST_F(DispatchTest, news_before_acceptance_is_ignored_and_after_it_stored) {
    dispatchMessage(news);
    EXPECT_TRUE(settledEvents().empty());
    dispatchMessage(acceptance);
    EXPECT_EQ(settledEvents(), (Events{"accept:\x04true"}));
    dispatchMessage(news);
    EXPECT_EQ(settledEvents(), (Events{"accept:\x04true", "news:\x01\x04news"}));
}

TEST_F(DispatchTest, only_acceptance_has_an_effect_before_acceptance) {
    dispatchMessage(patchList);
    dispatchMessage(integrityList);
    EXPECT_TRUE(settledEvents().empty());
    EXPECT_EQ(launcherState.serverAccepted, 0);
    dispatchMessage(acceptance);
    EXPECT_EQ(launcherState.serverAccepted, 1);
}

TEST_F(DispatchTest, a_second_acceptance_is_ignored) {
    dispatchMessage(acceptance);
    dispatchMessage(message(1001, "\x05"
                                  "false"));
    EXPECT_EQ(settledEvents(), (Events{"accept:\x04true"}));
}

TEST_F(DispatchTest, two_acceptances_at_the_same_moment_run_one_self_update) {
    for (int round = 0; round < 50; ++round) {
        launcherState.serverAccepted = 0;
        std::promise<void> go;
        std::shared_future<void> start = go.get_future().share();
        std::thread first([&] {
            start.wait();
            dispatchMessage(acceptance);
        });
        std::thread second([&] {
            start.wait();
            dispatchMessage(acceptance);
        });
        go.set_value();
        first.join();
        second.join();
        ASSERT_EQ(settledEvents().size(), static_cast<std::size_t>(round + 1)) << "round " << round;
    }
}

TEST_F(DispatchTest, every_patch_update_is_followed_by_one_integrity_request) {
    dispatchMessage(acceptance);
    dispatchMessage(patchList);
    dispatchMessage(message(1002, "\x00"s));
    dispatchMessage(message(1002, ""));
    EXPECT_EQ(settledEvents(), (Events{"accept:\x04true",
                                       "patch:\x04"
                                       "1001",
                                       "request:", "patch:\x00"s, "request:", "patch:", "request:"}));
}

TEST_F(DispatchTest, unknown_codes_and_messages_without_a_whole_code_have_no_effect) {
    dispatchMessage("\xE9\x03\x00"s); // three bytes of an acceptance
    dispatchMessage("");
    EXPECT_EQ(launcherState.serverAccepted, 0);
    dispatchMessage(acceptance);
    dispatchMessage(message(1004, "\x04true"));
    dispatchMessage(message(999, ""));
    dispatchMessage(message(-1, "xyz"));
    dispatchMessage("\xE8\x03"s);
    EXPECT_EQ(settledEvents(), (Events{"accept:\x04true"}));
}

TEST_F(DispatchTest, update_handlers_run_one_at_a_time_in_arrival_order) {
    dispatchMessage(acceptance);
    dispatchMessage(message(1002, "\x01"
                                  "a"));
    dispatchMessage(message(1003, "\x01"
                                  "b"));
    dispatchMessage(message(1002, "\x01"
                                  "c"));
    dispatchMessage(message(1003, "\x01"
                                  "d"));
    EXPECT_EQ(settledEvents(), (Events{"accept:\x04true",
                                       "patch:\x01"
                                       "a",
                                       "request:",
                                       "integrity:\x01"
                                       "b",
                                       "patch:\x01"
                                       "c",
                                       "request:",
                                       "integrity:\x01"
                                       "d"}));
}

TEST_F(DispatchTest, news_is_stored_while_a_patch_update_is_still_running) {
    std::promise<void> started;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    MessageHandlers handlers = recorder.handlers();
    handlers.patchUpdate = [&, released](std::string_view bytes) {
        started.set_value();
        released.wait();
        recorder.add("patch", bytes);
    };
    setMessageHandlers(handlers);
    dispatchMessage(acceptance);
    dispatchMessage(patchList);
    started.get_future().wait();
    dispatchMessage(news);
    EXPECT_EQ(recorder.events(), (Events{"accept:\x04true", "news:\x01\x04news"}));
    release.set_value();
    EXPECT_EQ(settledEvents(), (Events{"accept:\x04true", "news:\x01\x04news",
                                       "patch:\x04"
                                       "1001",
                                       "request:"}));
}

TEST_F(DispatchTest, an_empty_handler_record_restores_the_real_news_handler) {
    setMessageHandlers({});
    launcherState.serverAccepted = 1;
    dispatchMessage(message(1000, "\x01\x0c"
                                  "real handler"));
    std::lock_guard lock(launcherState.textLock);
    ASSERT_FALSE(launcherState.newsItems.empty());
    EXPECT_EQ(launcherState.newsItems.back(), "real handler");
}

} // namespace
