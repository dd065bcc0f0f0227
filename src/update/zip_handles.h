// libzip's archive and entry handles, closed when they go out of scope. An archive opened for
// reading is discarded, never written back.
#pragma once

#include <memory>

#include <zip.h>

struct ArchiveCloser {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct EntryCloser {
    void operator()(zip_file_t* entry) const { zip_fclose(entry); }
};
using ArchiveHandle = std::unique_ptr<zip_t, ArchiveCloser>;
using EntryHandle = std::unique_ptr<zip_file_t, EntryCloser>;
