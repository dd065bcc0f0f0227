// Signed releases: with a release key built in, every file from the update server must come with
// a valid signature before it is installed or started.
#pragma once

#include <string>

struct FetchedFile;

// True when this build carries a release key, so that every fetched file needs its signature.
bool signaturesRequired();
// Checks `file` against its signature, fetched from the update server beside it (its address plus
// ".sig"). True when no key is built in. On failure one diagnostic names the reason.
bool verifyReleaseSignature(const std::string& baseUrl, const FetchedFile& file);
