// Where each entry of a ZIP archive lies in the archive's bytes, read from its central directory
// and local headers. libzip does not say, and an archive whose entries share bytes (several
// directory records pointing into one data stream) turns a small download into a huge
// extraction.
//
// [X] the end record, also with an archive comment, and the ZIP64 end record and sizes
// [ ] archives split over several files, and data prepended with offsets relative to the archive
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct EntrySpan {
    std::uint64_t begin = 0;          // the entry's local header
    std::uint64_t end = 0;            // just past its compressed data
    std::uint64_t compressedSize = 0; // as the directory declares it
};

// The spans of the archive's entries in the order of its central directory (libzip's index
// order); nothing when the directory or a local header cannot be read.
std::optional<std::vector<EntrySpan>> readEntrySpans(const std::string& archivePath);
// For each span, whether it shares bytes with another span.
std::vector<bool> overlappingSpans(const std::vector<EntrySpan>& spans);
