// A release key pair made for one test or benchmark, signing as the release tool does. Made and
// used by the openssl command (through test_tools.h), so the Windows build's tests under Wine
// sign the same way and the signatures never come from the code under test.
#pragma once

#include <string>

#include "test_folder.h"
#include "test_tools.h"

namespace dltest {

class ReleaseTestKey {
  public:
    ReleaseTestKey() { runTool({"openssl", "genpkey", "-algorithm", "ED25519", "-out", key_}); }
    std::string publicPem() const {
        std::string pem;
        runTool({"openssl", "pkey", "-in", key_, "-pubout"}, "", &pem);
        return pem;
    }
    std::string sign(const std::string& message) const {
        const std::string in = folder_.file("message");
        const std::string out = folder_.file("signature");
        writeText(in, message);
        runTool({"openssl", "pkeyutl", "-sign", "-rawin", "-inkey", key_, "-in", in, "-out", out});
        return readText(out);
    }

  private:
    TestFolder folder_;
    std::string key_ = folder_.file("key.pem");
};

} // namespace dltest
