// Handlers for the dispatch seam that write down what they were called with, and the messages
// the tests send them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/connection.h"

// A server message: the code as four little-endian bytes, then the payload.
inline std::string message(std::int32_t code, const std::string& payload) {
    std::string bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = static_cast<char>((static_cast<std::uint32_t>(code) >> (8 * i)) & 0xFF);
    return bytes + payload;
}

class MessageRecorder {
  public:
    // Events read "<handler>:<message bytes after the code>".
    void add(const std::string& kind, std::string_view message) {
        {
            std::lock_guard lock(lock_);
            events_.push_back(kind + ":" + std::string(message.size() > 4 ? message.substr(4) : ""));
        }
        changed_.notify_all();
    }
    std::vector<std::string> events() {
        std::lock_guard lock(lock_);
        return events_;
    }
    // Waits until `count` events are there; false when they do not come within a generous limit.
    bool waitForEvents(std::size_t count) {
        std::unique_lock lock(lock_);
        return changed_.wait_for(lock, std::chrono::seconds(20), [&] { return events_.size() >= count; });
    }
    MessageHandlers handlers() {
        return {
            [this](std::string_view message) { add("news", message); },
            [this](std::string_view message) { add("accept", message); },
            [this](std::string_view message) { add("patch", message); },
            [this](std::string_view message) { add("integrity", message); },
            [this] { add("request", ""); },
        };
    }

  private:
    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
};
