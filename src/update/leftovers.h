// What a launcher that ended half-way left in the installation: old launcher copies and the
// temporaries of downloads, extractions and the self-update. Removed at the next start.
#pragma once

#include <string>

// Old launcher copies (removeOldLaunchersIn), a new launcher that never took its place, and, through the
// whole installation tree, files named like a temporary: "*.part" (kept while its resume record
// "*.part.resume" lies beside it),
// "*.part.resume" without its part, and ".extracting-*".
void removeLeftoversIn(const std::string& folder);
