// Version handling of the patch update: splitText in both forms, and runPatchUpdateIn with any
// version.dat and any version list, against a scratch game folder. Downloads go to port 1 of the
// loopback, where nothing listens.
//
// Checked: the pieces of splitText join back to the text; patching starts exactly when a token is
// pending by the rules (compared as the standard decimal conversion reads them, only numbers
// compared, only plain file names fetched); as no download arrives, the version shown stays the
// installed one (the first line of version.dat without blanks); nothing is written outside the
// game folder.
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>

using namespace std::string_literals;

#include "core/launcher_state.h"
#include "core/text_conversion.h"
#include "fuzz_support.h"
#include "update/patch_update.h"

namespace {

constexpr const char* refusedBaseUrl = "http://127.0.0.1:1/";

fuzz::Scratch scratch;

template <typename Text, typename View> void checkSplit(const Text& text, const Text& delimiter) {
    const auto pieces = splitText(View(text), View(delimiter));
    fuzz::require(!pieces.empty(), "splitText always gives a piece");
    Text joined;
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0) joined += delimiter;
        joined += pieces[i];
        if (!delimiter.empty())
            fuzz::require(pieces[i].find(delimiter) == Text::npos, "no piece holds the delimiter");
    }
    fuzz::require(joined == text, "the pieces join back to the text");
}

// std::stoi's reading, as the version rules are defined: nothing where it would throw.
std::optional<long> standardNumber(const std::string& text) {
    const std::string bounded = text.substr(0, text.find('\0'));
    const char* begin = bounded.c_str();
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(begin, &end, 10);
    if (end == begin || errno == ERANGE || value < INT32_MIN || value > INT32_MAX) return std::nullopt;
    return value;
}

std::string installedVersion(std::string_view text) {
    const std::string line(text.substr(0, text.find('\n')));
    const auto first = line.find_first_not_of(" \t\r\v\f");
    if (first == std::string::npos) return {};
    return line.substr(first, line.find_last_not_of(" \t\r\v\f") - first + 1);
}

bool hasPendingToken(long installed, const std::string& listText) {
    for (const auto& piece : splitText(toWide(listText), u"\n")) {
        const std::string token = toNarrow(piece);
        const auto version = standardNumber(token);
        if (!version || *version <= installed) continue;
        // One that names a path is refused and ends the run before any patching.
        return !(token == "." || token == ".." || token.find_first_of("/\\") != std::string::npos);
    }
    return false;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    scratch = fuzz::prepareScratch();
    fuzz::standInForProcessesAndDialogs();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Input input(data, size);
    const std::uint8_t flags = input.byte();
    const std::string versionFile(input.piece(40));
    const std::string delimiter(input.piece(4));
    const std::string list(input.rest().substr(0, 255));

    checkSplit<std::string, std::string_view>(list, delimiter);
    checkSplit<std::u16string, std::u16string_view>(toWide(list), toWide(delimiter));

    fuzz::emptyFolder(scratch.game);
    const bool hasVersionFile = (flags & 1) != 0;
    if (hasVersionFile) {
        std::ofstream file(scratch.game + "version.dat", std::ios::binary);
        file.write(versionFile.data(), static_cast<std::streamsize>(versionFile.size()));
    }
    const auto before = scratch.outsideGame();

    std::string message = "\xea\x03\x00\x00"s;
    message += static_cast<char>(list.size());
    message += list;
    if (flags & 2) message.resize(message.size() - std::min<std::size_t>(message.size() - 4, flags >> 4));
    setUpdatePhase(1);
    runPatchUpdateIn(message, scratch.game, refusedBaseUrl);

    fuzz::requireSameTree(before, scratch.outsideGame(), "outside the game folder");
    const std::size_t length = message.size() > 4 ? static_cast<unsigned char>(message[4]) : 0;
    if (length != 0) {
        std::string installed = hasVersionFile ? installedVersion(versionFile) : "1000";
        if (!standardNumber(installed)) installed = "1000";
        std::string listText = message.substr(5, length);
        listText = listText.substr(0, listText.find('\0'));
        fuzz::require(currentGameVersion() == installed, "the version shown moves only when a patch applied");
        fuzz::require((launcherState.updatePhase.load() == patchingPhase) ==
                          hasPendingToken(*standardNumber(installed), listText),
                      "patching starts exactly when a token is pending");
    }
    return 0;
}
