// The operator's release tool: keys, signatures and patch releases. Each step returns false after
// printing what went wrong; the command line turns that into exit code 1.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace release {

// One line on standard error, prefixed with the tool's name: progress, notes and failures.
void say(const std::string& line);

// A file's size and SHA-256 (lowercase hex), read once in blocks; nothing when unreadable.
struct FileFacts {
    std::uint64_t size = 0;
    std::string sha256;
};
bool readFacts(const std::string& path, FileFacts& facts);

// Writes a new Ed25519 key pair: `privatePath` (owner-only) and its public key beside it.
bool generateKeyPair(const std::string& privatePath);
// The public key file written beside `privatePath`: "x.pem" gives "x.pub.pem".
std::string publicKeyPathFor(const std::string& privatePath);

// Signs UPDATE_ROOT/PATH for each path, writing UPDATE_ROOT/PATH.sig.
bool signFiles(const std::string& privateKeyPath, const std::string& root,
               const std::vector<std::string>& paths);
// Checks UPDATE_ROOT/PATH.sig for each path, one line each; true when all are good.
bool verifyFiles(const std::string& publicKeyPath, const std::string& root,
                 const std::vector<std::string>& paths);

struct PatchRequest {
    std::string version;
    std::string fromFolder;
    std::string toFolder;
    std::string updateRoot;
    std::string privateKeyPath; // empty: nothing signed
    bool delta = true;          // also patches/<version>.delta.zip
};
// Writes patches/<version>.zip and patches/Launcher/, prints the file list on standard output.
bool makePatch(const PatchRequest& request);
// Writes `deltaArchive` for the `changed` files (relative names), copying whole files from the
// finished full patch `fullArchive`. Its size; 0 when no file is worth a delta and nothing was
// written; nothing after saying what failed.
std::optional<std::uint64_t> writeDeltaPatch(const PatchRequest& request,
                                             const std::vector<std::string>& changed,
                                             const std::string& fullArchive, const std::string& deltaArchive);

} // namespace release
