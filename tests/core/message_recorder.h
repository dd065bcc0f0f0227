// Handlers for the dispatch seam that write down what they were called with, and the messages
// the tests send them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "../support/server_messages.h"
#include "app/dispatch.h"
#include "core/connection.h"

using dltest::message;

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
