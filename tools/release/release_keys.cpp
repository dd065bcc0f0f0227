// Keys and signatures of the release tool, through OpenSSL. The statement a signature covers is
// the launcher's own (update/release_signature.h), and the check is the launcher's own
// (platform/signature.h), so what this tool accepts is what a launcher accepts.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/digest.h"
#include "platform/files.h"
#include "platform/signature.h"
#include "release_files.h"
#include "update/release_signature.h"

namespace release {
namespace {

namespace fs = std::filesystem;

constexpr std::size_t readBlockSize = 1 << 20;
// Files above this size get a line before their hashing starts, which takes seconds.
constexpr std::uint64_t announcedBytes = 64ull << 20;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;
struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using KeyHandle = std::unique_ptr<EVP_PKEY, KeyFree>;
struct ContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

std::string hex(const unsigned char* bytes, std::size_t size) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < size; ++i) {
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

std::string openSslError() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown OpenSSL error";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

std::optional<std::string> readSmallFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A new file only: keys and signatures are never written over something else by accident.
FileHandle createExclusive(const std::string& path, bool ownerOnly) {
    FileHandle file(std::fopen(path.c_str(), "wbx"));
    if (file && ownerOnly) {
        std::error_code error;
        fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write, error);
        if (error) file.reset();
    }
    return file;
}

bool checkedPath(const std::string& path) {
    if (platform::isContainedRelativePath(path) && !path.empty() && path.find('\\') == std::string::npos)
        return true;
    say("not a path below the update root (use '/' between folders, no '..'): " + path);
    return false;
}

std::string statementFor(const std::string& root, const std::string& path, bool& ok) {
    FileFacts facts;
    ok = readFacts(root + "/" + path, facts);
    if (!ok) say("cannot read " + root + "/" + path);
    return ok ? releaseStatement(path, facts.size, facts.sha256) : std::string();
}

} // namespace

void say(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

bool readFacts(const std::string& path, FileFacts& facts) {
    FileHandle file(std::fopen(path.c_str(), "rb"));
    platform::Sha256Hasher hasher;
    std::error_code error;
    if (!file || !hasher.valid() || fs::is_directory(path, error)) return false;
    const auto size = fs::file_size(path, error);
    if (!error && size >= announcedBytes)
        say("hashing " + path + " (" + std::to_string(size >> 20) + " MiB)");
    std::vector<unsigned char> block(readBlockSize);
    facts.size = 0;
    for (std::size_t got; (got = std::fread(block.data(), 1, block.size(), file.get())) > 0;) {
        if (!hasher.update(block.data(), got)) return false;
        facts.size += got;
    }
    const auto value = hasher.finish();
    if (std::ferror(file.get()) || !value) return false;
    facts.sha256 = hex(value->data(), value->size());
    return true;
}

std::string publicKeyPathFor(const std::string& privatePath) {
    const std::string suffix = ".pem";
    const bool hasSuffix =
        privatePath.size() > suffix.size() &&
        privatePath.compare(privatePath.size() - suffix.size(), suffix.size(), suffix) == 0;
    return (hasSuffix ? privatePath.substr(0, privatePath.size() - suffix.size()) : privatePath) + ".pub.pem";
}

bool generateKeyPair(const std::string& privatePath) {
    const std::string publicPath = publicKeyPathFor(privatePath);
    for (const auto& path : {privatePath, publicPath}) {
        if (platform::pathExists(path)) {
            say(path + " already exists; a key is never overwritten");
            return false;
        }
    }
    KeyHandle key(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
    if (!key) {
        say("cannot generate a key: " + openSslError());
        return false;
    }
    FileHandle privateFile = createExclusive(privatePath, true);
    if (!privateFile ||
        PEM_write_PrivateKey(privateFile.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        std::fclose(privateFile.release()) != 0) {
        say("cannot write " + privatePath);
        return false;
    }
    FileHandle publicFile = createExclusive(publicPath, false);
    if (!publicFile || PEM_write_PUBKEY(publicFile.get(), key.get()) != 1 ||
        std::fclose(publicFile.release()) != 0) {
        say("cannot write " + publicPath);
        return false;
    }
    say("wrote " + privatePath + " (keep it secret, off the update server) and " + publicPath +
        " (build the launcher with -DLAUNCHER_UPDATE_PUBLIC_KEY=" + fs::absolute(publicPath).string() + ")");
    return true;
}

bool signFiles(const std::string& privateKeyPath, const std::string& root,
               const std::vector<std::string>& paths) {
    FileHandle keyFile(std::fopen(privateKeyPath.c_str(), "rb"));
    KeyHandle key(keyFile ? PEM_read_PrivateKey(keyFile.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519) {
        say("not an Ed25519 private key: " + privateKeyPath);
        ERR_clear_error();
        return false;
    }
    for (const auto& path : paths) {
        bool ok = checkedPath(path);
        const std::string statement = ok ? statementFor(root, path, ok) : std::string();
        if (!ok) return false;
        unsigned char signature[platform::ed25519SignatureBytes];
        std::size_t length = sizeof signature;
        std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
        if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
            EVP_DigestSign(context.get(), signature, &length,
                           reinterpret_cast<const unsigned char*>(statement.data()), statement.size()) != 1 ||
            length != sizeof signature) {
            say("cannot sign " + path + ": " + openSslError());
            return false;
        }
        // Written beside and renamed, so a server never serves half a signature.
        const std::string target = root + "/" + path + releaseSignatureSuffix;
        const std::string temporary = target + ".new";
        std::remove(temporary.c_str());
        FileHandle out = createExclusive(temporary, false);
        const bool written = out && std::fwrite(signature, 1, length, out.get()) == length &&
                             std::fclose(out.release()) == 0 && platform::replaceFile(temporary, target);
        if (!written) {
            std::remove(temporary.c_str());
            say("cannot write " + target);
            return false;
        }
    }
    return true;
}

bool verifyFiles(const std::string& publicKeyPath, const std::string& root,
                 const std::vector<std::string>& paths) {
    const auto key = readSmallFile(publicKeyPath);
    if (!key || key->find("-----BEGIN PUBLIC KEY-----") == std::string::npos) {
        say("not a public key in PEM form: " + publicKeyPath);
        return false;
    }
    bool allGood = true;
    for (const auto& path : paths) {
        bool ok = checkedPath(path);
        const std::string statement = ok ? statementFor(root, path, ok) : std::string();
        const auto signature = ok ? readSmallFile(root + "/" + path + releaseSignatureSuffix) : std::nullopt;
        const char* verdict =
            !ok                                                     ? "cannot be read"
            : !signature                                            ? "no signature"
            : signature->size() != platform::ed25519SignatureBytes  ? "signature is not 64 bytes"
            : !platform::verifyEd25519(*key, statement, *signature) ? "signature does not match"
                                                                    : nullptr;
        std::printf("%s: %s\n", path.c_str(), verdict ? verdict : "good");
        allGood = allGood && verdict == nullptr;
    }
    std::fflush(stdout);
    return allGood;
}

} // namespace release
