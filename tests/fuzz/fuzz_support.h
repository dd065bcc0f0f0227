// Helpers shared by the fuzz targets: the scratch install folder they must run from, listings
// that show whether anything outside a folder changed, and quiet diagnostics.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <string_view>

namespace fuzz {

// Name of the file that marks a folder as a scratch install folder (scripts/fuzz.sh makes it).
inline constexpr const char* scratchMarker = ".fuzz-scratch";

// installFolder(), after checking that it is a scratch folder; aborts otherwise, so that a target
// started from the build tree never writes version.dat or Downloads there.
std::string requireScratchInstall();

// Every entry under `folder` (recursively, symbolic links not followed) with its kind and size.
std::map<std::string, std::string> listTree(const std::string& folder);
// listTree of `sandbox` without what lies in `folder` (a path ending with '/'): the part of the
// sandbox that a run must leave as it was.
std::map<std::string, std::string> treeOutside(const std::string& sandbox, const std::string& folder);
// The sandbox around a scratch install folder: the folder that holds it, ending with '/'.
std::string sandboxOf(const std::string& install);
// Aborts with both listings on standard error when they differ.
void requireSameTree(const std::map<std::string, std::string>& before,
                     const std::map<std::string, std::string>& after, const char* what);

// The folders of a target whose handlers write files.
struct Scratch {
    std::string install; // the scratch install folder, ending with '/'
    std::string sandbox; // the folder that holds it, with a canary file: nothing in it may change
    std::string game;    // install + "game/": where the handlers may write
    // The sandbox's tree outside the game folder, for requireSameTree.
    std::map<std::string, std::string> outsideGame() const { return treeOutside(sandbox, game); }
};
// What such a target does first: quiet diagnostics, the scratch install folder checked, the
// canary laid beside it.
Scratch prepareScratch();

// Keeps the handlers away from the machine's processes and from the screen: no game is running
// and every message box is answered No.
void standInForProcessesAndDialogs();

// Aborts with "broken: <what>" when a property of the code under test does not hold.
inline void require(bool condition, const char* what) {
    if (condition) return;
    std::fprintf(stderr, "broken: %s\n", what);
    std::abort();
}

// Removes everything inside `folder` and leaves it empty (creating it when missing).
void emptyFolder(const std::string& folder);

// The launcher's own diagnostics (std::cerr) go nowhere unless FUZZ_VERBOSE is set; sanitizer
// and libFuzzer reports write to the descriptor directly and are not affected.
void quietDiagnostics();

// Splits fuzz input into pieces: a cursor that hands out bytes and small numbers.
class Input {
  public:
    Input(const std::uint8_t* data, std::size_t size) : bytes_(reinterpret_cast<const char*>(data), size) {}
    bool empty() const { return bytes_.empty(); }
    std::uint8_t byte() {
        if (bytes_.empty()) return 0;
        const auto value = static_cast<std::uint8_t>(bytes_.front());
        bytes_.remove_prefix(1);
        return value;
    }
    // A piece of at most `limit` bytes whose length comes from the input itself.
    std::string_view piece(std::size_t limit) {
        const std::size_t length = std::min({std::size_t{byte()}, limit, bytes_.size()});
        const std::string_view result = bytes_.substr(0, length);
        bytes_.remove_prefix(length);
        return result;
    }
    std::string_view rest() {
        const std::string_view result = bytes_;
        bytes_ = {};
        return result;
    }

  private:
    std::string_view bytes_;
};

} // namespace fuzz
