// Measuring helpers and test data shared by the benchmarks.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <sys/resource.h>

namespace bench {

using Clock = std::chrono::steady_clock;

// A field of /proc/self/status in KiB ("VmRSS", "VmHWM").
inline long statusKib(const std::string& field) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
    return -1;
}

inline double seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// User plus system processor time of this process (RUSAGE_SELF) or of its waited-for children
// (RUSAGE_CHILDREN).
inline double processorSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto toSeconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

inline double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A path quoted for the shell (the benchmarks' own temporary paths hold no quote).
inline std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

// Bytes that deflate to about half their size, like typical game data.
inline void writeData(const std::string& path, std::size_t bytes, unsigned seed) {
    std::vector<char> block(1 << 20);
    unsigned state = seed * 2654435761u + 1;
    std::ofstream out(path, std::ios::binary);
    for (std::size_t written = 0; written < bytes;) {
        for (auto& c : block) {
            state = state * 1103515245u + 12345u;
            c = static_cast<char>("abcdefghijklmnop"[(state >> 16) & 15]);
        }
        const std::size_t n = std::min(block.size(), bytes - written);
        out.write(block.data(), static_cast<std::streamsize>(n));
        written += n;
    }
}

} // namespace bench
