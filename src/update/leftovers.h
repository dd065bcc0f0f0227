// What a launcher that ended half-way left in the installation: old launcher copies and the
// temporaries of downloads, extractions and the self-update. Removed at the next start.
#pragma once

#include <string>

// Old launcher copies (removeOldLaunchersIn), a new launcher that never took its place, and, through the
// whole installation tree, the launcher's own temporaries (temporary_names.h): download parts (kept
// while their resume record lies beside them), resume records without their part, and extraction
// temporaries. Nothing else, whatever its name.
void removeLeftoversIn(const std::string& folder);
