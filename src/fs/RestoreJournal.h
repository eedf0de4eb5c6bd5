#pragma once

#include "fs/OpenFolder.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kavlento::fs {

// The records of a restore that let an interrupted one be undone at the next
// start, kept in the restore's working folder:
//
//  - the area list ("alanlar"): written first, when the working folder is
//    made; the other mounts' working folders, by their folders below the
//    destination. It marks the working folder as Kavlento's.
//  - the journal ("gunluk"): written whole, under a temporary name, before
//    the first move; gone once every file is in place and on disk.
//
// The journal is "KJ3" (or "KJ2", which holds no removals), then records:
// kind, whether the path existed ('1' or '0'), a number (the working folder,
// or a folder's mode), the path's length and its bytes.
namespace journal {

constexpr const char* kAreaList = "alanlar";
constexpr const char* kJournal = "gunluk";

struct Move {
    // 'F' a file or link moved aside and replaced, 'D' a folder, 'X' a path
    // the archive lacks moved aside, 'W' a folder opened up (with its mode).
    char kind = 'F';
    bool existed = false;
    std::uint32_t area = 0;
    std::uint32_t mode = 0;
    std::string path;
};

// The folders, below the destination, of the working folders on other
// mounts; empty for one that lies on the destination's mount only.
void writeAreaList(const OpenFolder& working, const std::vector<std::string>& mountFolders);
std::vector<std::string> readAreaList(const OpenFolder& working);

// Written in pieces, so that memory does not grow with the archive.
class Writer {
public:
    explicit Writer(const OpenFolder& working);
    void add(const Move& move);
    // Puts the journal in place, durably.
    void commit();

private:
    void flush();

    const OpenFolder& working_;
    UniqueFd fd_;
    std::string buffer_;
    std::uint64_t written_ = 0;
};

bool exists(const OpenFolder& working);
std::vector<Move> read(const OpenFolder& working);
// Removes the journal; the restore it records is done once the removal is
// on disk (working.sync()).
void remove(const OpenFolder& working);

// Whether the folder at `name` in `destination` is a working folder of
// Kavlento's: one with an area list or a journal, or one cut off before it got
// a list (nothing in it but empty folders). A user's folder of that name is neither.
bool isOurs(const OpenFolder& destination, const std::string& name);

} // namespace journal

} // namespace kavlento::fs
