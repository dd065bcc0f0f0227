// Keys and signatures of the release tool, through OpenSSL. The statement a signature covers is
// the launcher's own (update/release_signature.h), and the check is the launcher's own
// (platform/signature.h), so what this tool accepts is what a launcher accepts.
#include <openssl/bio.h>
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

// A new file only: keys and signatures are never written over something else by accident. A
// private key is owner-only from the moment the file exists.
FileHandle createExclusive(const std::string& path, bool ownerOnly) {
    return FileHandle(platform::createNewFile(path, ownerOnly));
}

EVP_PKEY* keyOf(const std::shared_ptr<void>& key) {
    return static_cast<EVP_PKEY*>(key.get());
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

SigningKey::SigningKey(const std::string& privateKeyPath) {
    FileHandle keyFile(std::fopen(privateKeyPath.c_str(), "rb"));
    KeyHandle key(keyFile ? PEM_read_PrivateKey(keyFile.get(), nullptr, nullptr, nullptr) : nullptr);
    ERR_clear_error();
    if (!key || EVP_PKEY_id(key.get()) != EVP_PKEY_ED25519) {
        say("not an Ed25519 private key: " + privateKeyPath);
        return;
    }
    key_ = std::shared_ptr<void>(key.release(), [](void* k) { EVP_PKEY_free(static_cast<EVP_PKEY*>(k)); });
}

bool SigningKey::sign(const std::string& path, const std::string& contentFile,
                      const std::string& signatureFile) const {
    FileFacts facts;
    if (!readFacts(contentFile, facts)) {
        say("cannot read " + contentFile);
        return false;
    }
    const std::string statement = releaseStatement(path, facts.size, facts.sha256);
    unsigned char signature[platform::ed25519SignatureBytes];
    std::size_t length = sizeof signature;
    std::unique_ptr<EVP_MD_CTX, ContextFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, keyOf(key_)) != 1 ||
        EVP_DigestSign(context.get(), signature, &length,
                       reinterpret_cast<const unsigned char*>(statement.data()), statement.size()) != 1 ||
        length != sizeof signature) {
        say("cannot sign " + path + ": " + openSslError());
        return false;
    }
    // Written beside and renamed, so a server never serves half a signature.
    const std::string temporary = signatureFile + ".new";
    std::remove(temporary.c_str());
    FileHandle out = createExclusive(temporary, false);
    const bool written = out && std::fwrite(signature, 1, length, out.get()) == length &&
                         std::fclose(out.release()) == 0 && platform::replaceFile(temporary, signatureFile);
    if (!written) {
        std::remove(temporary.c_str());
        say("cannot write " + signatureFile);
    }
    return written;
}

bool SigningKey::mayReplace(const std::string& path, const std::string& contentFile,
                            const std::string& signatureFile) const {
    const auto existing = readSmallFile(signatureFile);
    if (!existing) return true;
    // The public half, as PEM, for the launcher's own check.
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), BIO_free);
    char* data = nullptr;
    long size = 0;
    FileFacts facts;
    const bool verified =
        bio && PEM_write_bio_PUBKEY(bio.get(), keyOf(key_)) == 1 &&
        (size = BIO_get_mem_data(bio.get(), &data)) > 0 && readFacts(contentFile, facts) &&
        platform::verifyEd25519(std::string_view(data, static_cast<std::size_t>(size)),
                                releaseStatement(path, facts.size, facts.sha256), *existing);
    ERR_clear_error();
    if (!verified)
        say(signatureFile + " exists and this key does not verify it (another key signed it, or the file "
                            "changed since); nothing written. Give --replace-signatures to replace such "
                            "signatures, as when rotating keys");
    return verified;
}

bool signFiles(const std::string& privateKeyPath, const std::string& root,
               const std::vector<std::string>& paths, bool replaceSignatures) {
    const SigningKey key(privateKeyPath);
    if (!key.valid()) return false;
    // Every path and every signature it would replace is checked before anything is written.
    for (const auto& path : paths) {
        if (!checkedPath(path)) return false;
        const std::string file = root + "/" + path;
        if (!replaceSignatures && !key.mayReplace(path, file, file + releaseSignatureSuffix)) return false;
    }
    for (const auto& path : paths)
        if (!key.sign(path, root + "/" + path, root + "/" + path + releaseSignatureSuffix)) return false;
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
