#pragma once

#include "base/NameStore.h"
#include "base/TreeEntry.h"
#include "fs/File.h"
#include "zip/ZipFormat.h"

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavlento::zip {

// An entry as the archive's directory describes it.
struct ZipEntry : TreeEntry {
    enum class Encryption : std::uint8_t { None, Traditional, Aes128, Aes192, Aes256 };

    // `size` is as the archive declares it; `path` as the name policy made it.
    std::uint64_t dataOffset = 0;     // the first stored byte, after the local header
    std::uint64_t compressedSize = 0; // stored bytes, encryption included
    std::uint32_t index = 0;          // position in the central directory
    std::uint32_t crc = 0;
    std::uint16_t method = 0; // compression, before encryption
    Encryption encryption = Encryption::None;
    bool crcStored = true; // AE-2 entries leave it out: their HMAC covers the data

    bool aes() const { return encryption >= Encryption::Aes128; }
};

// What an entry's name becomes: the name arrives as UTF-8 where the archive
// says it is (or as the bytes stored by a Unix archiver), with '/' between
// folders; the policy returns the path to list the entry under, an empty path
// to leave it out, or throws to refuse the archive.
using NamePolicy = std::function<std::string(std::string name)>;

// The central directory of a ZIP archive, read in one pass and held compactly:
// the memory a restore needs grows by a few dozen bytes per entry.
//
// The format's consistency is checked first: the end records, every central
// record against its local header, and that no two entries share stored bytes.
class ZipDirectory {
public:
    // `path` names the open `file` in messages.
    ZipDirectory(const fs::UniqueFd& file, const std::string& path, const NamePolicy& names);

    // Entries in directory order, without those the name policy left out.
    const std::vector<ZipEntry>& entries() const { return entries_; }
    // Every record of the central directory, the root included.
    std::uint64_t recordCount() const { return recordCount_; }
    // Where and when the archive was written, where it says so (Kavlento's do).
    const std::optional<ArchiveOrigin>& origin() const { return origin_; }

private:
    NameStore names_;
    std::vector<ZipEntry> entries_;
    std::uint64_t recordCount_ = 0;
    std::optional<ArchiveOrigin> origin_;
};

// The origin of the archive open as `file`, reading only its end records and
// its first central record; nothing where it holds none.
std::optional<ArchiveOrigin> readOrigin(const fs::UniqueFd& file, const std::string& path);

// The failures of reading an archive, with the archive's name.
[[noreturn]] void throwDamagedArchive(const std::string& archive, const QString& detail);
[[noreturn]] void throwUnsupportedEntry(const std::string& archive);
[[noreturn]] void throwArchiveNotFound(const std::string& archive);

} // namespace kavlento::zip
