#pragma once

#include <cstdint>
#include <string_view>

namespace kavlento {

enum class EntryKind : std::uint8_t { File, Folder, Link };

// A moment to the nanosecond, as file systems keep modification times.
struct Timestamp {
    std::int64_t seconds = 0; // since 1970-01-01 UTC; negative before
    std::uint32_t nanoseconds = 0;

    bool operator==(const Timestamp& other) const {
        return seconds == other.seconds && nanoseconds == other.nanoseconds;
    }
    bool operator!=(const Timestamp& other) const { return !(*this == other); }
};

// One entry of a folder tree: what the scanner finds, the writer stores, the
// reader lists and the restore puts back. The path is a view: its bytes are
// kept by whoever made the entry (a NameStore, as a rule).
struct TreeEntry {
    std::string_view path;  // relative, '/'-separated, no leading or trailing '/'
    std::uint64_t size = 0; // a file's size, or the length of a link's target
    Timestamp modified;     //
    std::uint32_t mode = 0; // permission bits (07777), without the type
    EntryKind kind = EntryKind::File;

    bool isFolder() const { return kind == EntryKind::Folder; }
    bool isLink() const { return kind == EntryKind::Link; }
};

} // namespace kavlento
