#pragma once

#include "archive/JobControl.h"
#include "base/TreeEntry.h"
#include "fs/OpenFolder.h"
#include "zip/WinZipAes.h"
#include "zip/ZipWriter.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kavlento::archive {

// An entry as it went into the archive: the version of the file that was read
// (its size, time and mode when it was opened), and what the check of the
// written archive compares against.
struct PackedEntry {
    TreeEntry entry;
    std::uint32_t crc = 0;
    zip::AesSalt salt;
    zip::AesKeys keys; // kept, so that reading the archive back derives no key again
};

struct PackOptions {
    std::string password;
    int level = 6;
    unsigned threads = 0; // 0: every core
};

// Writes the entries of a scanned folder into an archive as WinZip AES-256
// entries, deflated in pieces on all cores.
//
// Every entry is reached from the open `root` one name at a time, never
// through a link. Each file is read through one descriptor, opened when its turn comes, so
// that the archive holds one whole version of it even when the file is
// replaced meanwhile. A file whose size or times change while it is read is
// read again, a few times, and fails the backup with its name if it keeps
// changing. A file that no longer exists is not packed; one that cannot be
// read fails the backup with its name.
std::vector<PackedEntry> pack(const std::vector<TreeEntry>& entries, const fs::OpenFolder& root,
                              const PackOptions& options, zip::ZipWriter& writer,
                              JobControl& control);

// What the pieces of a folder's files weigh in progress units, for a job that
// does more than pack them.
std::uint64_t packingWork(const std::vector<TreeEntry>& entries);

} // namespace kavlento::archive
