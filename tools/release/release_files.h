// The operator's release tool: keys, signatures and patch releases. Each step returns false after
// printing what went wrong; the command line turns that into exit code 1.
#pragma once

#include <cstdint>
#include <memory>
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

// An Ed25519 private key read from a PEM file; not valid (and said why) when it cannot be read.
class SigningKey {
  public:
    explicit SigningKey(const std::string& privateKeyPath);
    bool valid() const { return key_ != nullptr; }
    // Writes `signatureFile` (beside, then renamed) over the statement of `contentFile` published
    // at `path`.
    bool sign(const std::string& path, const std::string& contentFile,
              const std::string& signatureFile) const;
    // True when no signature lies at `signatureFile`, or this key's public half verifies it for
    // `contentFile` published at `path`. Otherwise says that another key (or an older content)
    // signed it.
    bool mayReplace(const std::string& path, const std::string& contentFile,
                    const std::string& signatureFile) const;

  private:
    std::shared_ptr<void> key_;
};

// Signs UPDATE_ROOT/PATH for each path, writing UPDATE_ROOT/PATH.sig. An existing signature that
// this key does not verify is replaced only with `replaceSignatures` (rotating keys); without it,
// nothing is written.
bool signFiles(const std::string& privateKeyPath, const std::string& root,
               const std::vector<std::string>& paths, bool replaceSignatures);
// Checks UPDATE_ROOT/PATH.sig for each path, one line each; true when all are good.
bool verifyFiles(const std::string& publicKeyPath, const std::string& root,
                 const std::vector<std::string>& paths);

struct PatchRequest {
    std::string version;
    std::string fromFolder;
    std::string toFolder;
    std::string updateRoot;
    std::string privateKeyPath; // empty: nothing signed
    bool replaceSignatures = false;
    bool delta = true; // also patches/<version>.delta.zip
};
// Writes patches/<version>.zip and patches/Launcher/, prints the file list on standard output.
// Everything is made and signed in a folder beside the update root first and moved in only when
// all of it succeeded: a failed run leaves the update root as it was.
bool makePatch(const PatchRequest& request);
// Writes `deltaArchive` for the `changed` files (relative names), copying whole files from the
// finished full patch `fullArchive`. Its size; 0 when no file is worth a delta and nothing was
// written; nothing after saying what failed.
std::optional<std::uint64_t> writeDeltaPatch(const PatchRequest& request,
                                             const std::vector<std::string>& changed,
                                             const std::string& fullArchive, const std::string& deltaArchive);

} // namespace release
