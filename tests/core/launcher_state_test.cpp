#include "core/launcher_state.h"

#include <gtest/gtest.h>
#include <thread>

#include "../support/server_messages.h"
#include "update/download.h"

using namespace std::string_literals;

namespace {

const std::string newsCode = dltest::codeBytes(1000);

std::vector<std::string> newsAddedBy(const std::string& message) {
    std::size_t before;
    {
        std::lock_guard lock(launcherState.textLock);
        before = launcherState.newsItems.size();
    }
    storeNewsList(message);
    std::lock_guard lock(launcherState.textLock);
    return {launcherState.newsItems.begin() + static_cast<long>(before), launcherState.newsItems.end()};
}

TEST(LauncherStateDeathTest, starts_with_the_documented_values) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // A fresh process, whatever other tests did to the shared record.
    EXPECT_EXIT(
        {
            LauncherSnapshot snapshot;
            refreshSnapshot(snapshot);
            const bool ok =
                snapshot.statusText == "Checking for new update.." && snapshot.gameVersion.empty() &&
                snapshot.newsItems.empty() && snapshot.updatePhase == 0 && snapshot.progressPercent == 0 &&
                launcherState.serverAccepted == 0 && launcherState.sendFailures == 0 &&
                launcherState.launcherDigest.empty() && launcherState.serverSocket == platform::invalidSocket;
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// Standard error of a death test holds the line exactly once.
class SaidOnce : public ::testing::MatcherInterface<const std::string&> {
  public:
    explicit SaidOnce(std::string line) : line_(std::move(line)) {}
    bool MatchAndExplain(const std::string& text, ::testing::MatchResultListener*) const override {
        const auto first = text.find(line_);
        return first != std::string::npos && text.find(line_, first + 1) == std::string::npos;
    }
    void DescribeTo(std::ostream* out) const override { *out << "holds once: " << line_; }

  private:
    std::string line_;
};

TEST(LauncherStateDeathTest, a_news_flood_keeps_the_first_items_and_says_so_once) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            // Three items a message: the 100th is the first of the 34th message, "H".
            for (int message = 0; message < 300; ++message)
                storeNewsList(newsCode + "\x03\x01" + static_cast<char>('A' + message % 26) + "\x01x\x01y");
            std::lock_guard lock(launcherState.textLock);
            const auto& news = launcherState.newsItems;
            std::exit(
                news.size() == newsItemLimit && news[0] == "A" && news[98] == "y" && news[99] == "H" ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), ::testing::MakeMatcher(new SaidOnce(newsListFullDiagnostic)));
}

TEST(StoreNewsList, appends_items_in_order_across_messages) {
    EXPECT_EQ(newsAddedBy(newsCode + "\x02\x01"
                                     "A\x02"
                                     "BC"),
              (std::vector<std::string>{"A", "BC"}));
    const auto both = [] {
        std::vector<std::string> added = newsAddedBy(newsCode + "\x02\x02"
                                                                "n1\x02"
                                                                "n2");
        for (auto& item : newsAddedBy(newsCode + "\x02\x02"
                                                 "n3\x02"
                                                 "n4"))
            added.push_back(item);
        return added;
    }();
    EXPECT_EQ(both, (std::vector<std::string>{"n1", "n2", "n3", "n4"}));
}

TEST(StoreNewsList, count_zero_and_short_messages_add_nothing) {
    EXPECT_TRUE(newsAddedBy(newsCode + "\x00"s).empty());
    EXPECT_TRUE(newsAddedBy(newsCode).empty());
    EXPECT_TRUE(newsAddedBy("\xE8\x03"s).empty());
}

TEST(StoreNewsList, empty_item_is_an_empty_text) {
    EXPECT_EQ(newsAddedBy(newsCode + "\x02\x00\x01z"s), (std::vector<std::string>{"", "z"}));
}

TEST(StoreNewsList, count_beyond_the_message_keeps_the_items_it_holds) {
    EXPECT_EQ(newsAddedBy(newsCode + "\x05\x01"
                                     "A\x02"
                                     "BC"),
              (std::vector<std::string>{"A", "BC"}));
    // The last item runs past the end: what is there is kept, and reading stops.
    EXPECT_EQ(newsAddedBy(newsCode + "\x03\x01"
                                     "A\x09"
                                     "BC"),
              (std::vector<std::string>{"A", "BC"}));
}

TEST(StoreNewsList, zero_byte_cuts_an_item_and_reading_goes_on_inside_it) {
    // "a\0b" is stored as "a"; the next length byte is read at the zero byte (length 0).
    EXPECT_EQ(newsAddedBy(newsCode + "\x02\x03"
                                     "a\0b"s),
              (std::vector<std::string>{"a", ""}));
}

TEST(Snapshot, copies_only_after_a_change) {
    LauncherSnapshot snapshot;
    ASSERT_TRUE(refreshSnapshot(snapshot));
    EXPECT_FALSE(refreshSnapshot(snapshot));
    setStatusText("Checking missing files.");
    ASSERT_TRUE(refreshSnapshot(snapshot));
    EXPECT_EQ(snapshot.statusText, "Checking missing files.");
    setUpdatePhase(4);
    ASSERT_TRUE(refreshSnapshot(snapshot));
    EXPECT_EQ(snapshot.updatePhase, 4);
    downloader.progressPercent = snapshot.progressPercent + 1;
    EXPECT_TRUE(refreshSnapshot(snapshot));
    EXPECT_FALSE(refreshSnapshot(snapshot));
}

TEST(Snapshot, readers_on_another_thread_see_whole_values_while_writers_replace_them) {
    LauncherSnapshot snapshot;
    refreshSnapshot(snapshot);
    const std::string initial = snapshot.statusText;
    const std::string first = "Downloading version: 1001/1002";
    const std::string second = "Ready.";
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            setStatusText(i % 2 ? first : second);
            if (i % 100 == 0) appendNewsItems({"news " + std::to_string(i)});
        }
    });
    for (int i = 0; i < 2000; ++i) {
        refreshSnapshot(snapshot);
        ASSERT_TRUE(snapshot.statusText == initial || snapshot.statusText == first ||
                    snapshot.statusText == second)
            << snapshot.statusText;
    }
    writer.join();
    refreshSnapshot(snapshot);
    EXPECT_EQ(snapshot.statusText, first);
}

} // namespace
