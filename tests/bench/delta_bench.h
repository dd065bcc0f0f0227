// `update_bench delta`: a release of a 512 MiB pack with three changes, by delta patch and by
// full patch, as the launcher fetches and applies it from a server on the loopback.
#pragma once

#include <string>

namespace bench {

// The comparison; `self` is update_bench itself, which runs each update in a child.
void benchDelta(const std::string& self, const std::string& folder);
// The child: one patch run of version 1001 against `baseUrl`; prints "seconds peakKiB".
int childPatch(const std::string& folder, const std::string& baseUrl);

} // namespace bench
