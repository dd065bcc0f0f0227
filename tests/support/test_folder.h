// A temporary folder for a test, and whole-file reads and writes: portable, for the tests that
// also run as Windows programs.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

namespace dltest {

inline std::string readText(const std::string& path) {
    std::ifstream stream(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

inline void writeText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A fresh folder under the system's temporary folder, removed with all it holds at the end, also
// when a test took the write permission away from a folder or file inside it.
class TestFolder {
  public:
    TestFolder() {
        // A name nobody holds yet, made by this process: create_directory fails on an existing one.
        std::random_device seed;
        std::error_code error;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const auto candidate =
                std::filesystem::temp_directory_path(error) / ("launcher-test-" + std::to_string(seed()));
            if (!error && std::filesystem::create_directory(candidate, error) && !error)
                path_ = candidate.generic_string();
        }
        if (path_.empty()) {
            // Nowhere to work: a test must not fall back to writing at the file system's root.
            std::perror("temporary folder");
            std::abort();
        }
    }
    ~TestFolder() {
        namespace fs = std::filesystem;
        std::error_code ignored;
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
        for (auto it = fs::recursive_directory_iterator(path_, ignored);
             !ignored && it != fs::recursive_directory_iterator(); it.increment(ignored))
            // Files too: Windows refuses to delete a read-only file.
            if (!it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path_, ignored);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

} // namespace dltest
