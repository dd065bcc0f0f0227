// The operator's release tool: key pairs, signatures and patch releases for the update server.
// Exit codes: 0 done, 1 a step failed (the reason is on standard error), 2 bad arguments.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "launcher_config.h"
#include "release_files.h"
#include "update/release_signature.h"

namespace {

constexpr int failedStep = 1;
constexpr int badArguments = 2;

std::string toolName() {
    std::string name = brandName;
    for (auto& c : name)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return name + "-release";
}

void printHelp() {
    const std::string tool = toolName();
    std::printf(
        "%s: publishes releases of the %sLauncher on its update server.\n"
        "\n"
        "  %s keygen PRIVATE.pem\n"
        "      writes a new Ed25519 key pair: PRIVATE.pem (keep it secret) and PRIVATE.pub.pem (build the\n"
        "      launcher with -DLAUNCHER_UPDATE_PUBLIC_KEY=/path/to/PRIVATE.pub.pem); never replaces a file\n"
        "  %s sign [--replace-signatures] PRIVATE.pem UPDATE_ROOT PATH...\n"
        "      writes UPDATE_ROOT/PATH.sig for each PATH (relative to UPDATE_ROOT, as the launcher requests\n"
        "      it, e.g. patches/1003.zip or patches/Launcher/%sLauncher); an existing signature that this\n"
        "      key does not verify is replaced only with --replace-signatures (rotating keys)\n"
        "  %s verify PUBLIC.pem UPDATE_ROOT PATH...\n"
        "      checks UPDATE_ROOT/PATH.sig for each PATH; one line each, exit 1 when one is not good\n"
        "  %s patch --version N --from OLD_DIR --to NEW_DIR --out UPDATE_ROOT [--key PRIVATE.pem]\n"
        "        [--no-delta] [--replace-signatures]\n"
        "      writes UPDATE_ROOT/patches/N.zip with every file of NEW_DIR that is new or changed against\n"
        "      OLD_DIR and version.dat holding N, and beside it N.delta.zip (unless --no-delta) where large\n"
        "      files that changed in part come as binary deltas; copies every file of NEW_DIR under\n"
        "      UPDATE_ROOT/patches/Launcher/ for repairs; signs all of them with --key; prints the file "
        "list\n"
        "      for the game server's message 1003 as a step of the development server's script; all is made\n"
        "      beside UPDATE_ROOT first and moved in only when it all succeeded\n"
        "  %s --help\n"
        "\n"
        "A signature is 64 bytes: Ed25519 over the four lines\n"
        "  %s\\n<PATH>\\n<size in bytes>\\n<SHA-256, lowercase hex>\\n\n"
        "so `openssl pkeyutl -sign -inkey PRIVATE.pem -rawin -in statement -out PATH.sig` makes the same.\n"
        "Exit codes: 0 done, 1 a step failed, 2 bad arguments.\n",
        tool.c_str(), brandName, tool.c_str(), tool.c_str(), brandName, tool.c_str(), tool.c_str(),
        tool.c_str(), releaseStatementFormat);
}

int usage(const std::string& problem) {
    release::say(toolName() + ": " + problem + " (see " + toolName() + " --help)");
    return badArguments;
}

bool isVersion(const std::string& text) {
    if (text.empty() || text.size() > 9) return false;
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

int patchCommand(const std::vector<std::string>& arguments) {
    release::PatchRequest request;
    std::vector<std::string> options;
    for (const auto& argument : arguments) {
        if (argument == "--no-delta")
            request.delta = false;
        else if (argument == "--replace-signatures")
            request.replaceSignatures = true;
        else
            options.push_back(argument);
    }
    for (std::size_t i = 0; i < options.size(); i += 2) {
        const std::string& option = options[i];
        std::string* value = option == "--version" ? &request.version
                             : option == "--from"  ? &request.fromFolder
                             : option == "--to"    ? &request.toFolder
                             : option == "--out"   ? &request.updateRoot
                             : option == "--key"   ? &request.privateKeyPath
                                                   : nullptr;
        if (!value) return usage("patch: unknown argument " + option);
        if (i + 1 >= options.size() || options[i + 1].empty())
            return usage("patch: " + option + " needs a value");
        if (!value->empty()) return usage("patch: " + option + " given twice");
        *value = options[i + 1];
    }
    if (request.version.empty() || request.fromFolder.empty() || request.toFolder.empty() ||
        request.updateRoot.empty())
        return usage("patch needs --version, --from, --to and --out");
    if (!isVersion(request.version))
        return usage("patch: the version is a decimal number: " + request.version);
    return release::makePatch(request) ? 0 : failedStep;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.empty()) return usage("no command given");
    const std::string& command = arguments[0];
    const std::vector<std::string> rest(arguments.begin() + 1, arguments.end());
    if (command == "--help" || command == "-h" || command == "help") {
        printHelp();
        return 0;
    }
    if (command == "keygen") {
        if (rest.size() != 1) return usage("keygen takes one argument, PRIVATE.pem");
        return release::generateKeyPair(rest[0]) ? 0 : failedStep;
    }
    if (command == "sign" || command == "verify") {
        std::vector<std::string> operands = rest;
        const auto flag = std::find(operands.begin(), operands.end(), "--replace-signatures");
        const bool replace = command == "sign" && flag != operands.end();
        if (replace) operands.erase(flag);
        if (operands.size() < 3) return usage(command + " takes a key, UPDATE_ROOT and at least one PATH");
        const std::vector<std::string> paths(operands.begin() + 2, operands.end());
        const bool done = command == "sign" ? release::signFiles(operands[0], operands[1], paths, replace)
                                            : release::verifyFiles(operands[0], operands[1], paths);
        return done ? 0 : failedStep;
    }
    if (command == "patch") return patchCommand(rest);
    return usage("unknown command " + command);
}
