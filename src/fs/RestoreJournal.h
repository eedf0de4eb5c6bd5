#pragma once

#include "base/Failure.h"
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
// Both end in their count and a checksum, so that one cut short, damaged or
// not written by Kavlento is refused whole: half a journal undone would leave
// the folder neither as it was nor restored. Journals of earlier versions
// ("KJ3", "KJ2") and area lists without a mark are still read, as long as
// every record is whole and sound.
namespace journal {

constexpr const char* kAreaList = "alanlar";
constexpr const char* kJournal = "gunluk";

struct Move {
    // The values are the bytes on disk.
    enum class Kind : char {
        File = 'F',     // a file or link moved aside and replaced
        Folder = 'D',   // a folder of the restore, made when it did not exist
        Extra = 'X',    // a path the archive lacks, moved aside
        OpenedUp = 'W', // a folder opened up for the moves; `mode` is the one it had
    };
    Kind kind = Kind::File;
    bool existed = false;
    std::uint32_t area = 0; // the working folder its old file goes to
    std::uint32_t mode = 0;
    std::string path;
};

// A journal or area list, in a working folder that may be trusted, that is cut
// short, damaged or not Kavlento's: nothing of it can be replayed, and the
// text says where the old files wait to be put back by hand.
class Damaged : public Failure {
public:
    using Failure::Failure;
};

// What a folder with the working folder's name is.
enum class Standing {
    Ours,      // a working folder of Kavlento's, fit to be acted on
    Foreign,   // something else of this user's or the administrator's, left as it is
    Untrusted, // another user's, or one others may write in: never acted on
};
// Ours: a trusted folder holding only the area list, the journal (or the
// journal under its temporary name), trusted "eski" and "yeni" folders, and
// empty folders. A list that cannot be read makes it Foreign, but where a
// journal says a restore is to be undone, or where the list, cut off as it
// was written, is all the folder holds.
Standing standingOf(const OpenFolder& working);
// Whether the folder at `name` in `destination` is Ours.
bool isOurs(const OpenFolder& destination, const std::string& name);

// The folders, below the destination, of the working folders on other
// mounts; empty for one that lies on the destination's mount only.
void writeAreaList(const OpenFolder& working, const std::vector<std::string>& mountFolders);
// Throws Damaged, naming the list, when it is not one Kavlento wrote whole;
// but one that is all its folder holds, cut off as it was written, lists
// nothing yet.
std::vector<std::string> readAreaList(const OpenFolder& working);

// Written in pieces, so that memory does not grow with the archive.
class Writer {
public:
    explicit Writer(const OpenFolder& working);
    // Throws for a move the journal could not be read back with.
    void add(const Move& move);
    // Puts the journal in place, durably.
    void commit();

private:
    void flush();

    const OpenFolder& working_;
    UniqueFd fd_;
    std::string buffer_;
    std::uint64_t written_ = 0;
    std::uint64_t count_ = 0;
    std::uint64_t checksum_ = 0;
};

bool exists(const OpenFolder& working);
// The moves, for a restore whose area list names `areas` - 1 other working
// folders; throws Damaged, naming the journal and undoing nothing, when it is
// not one Kavlento wrote whole or a move is not one a restore makes.
std::vector<Move> read(const OpenFolder& working, std::size_t areas);
// Removes the journal; the restore it records is done once the removal is
// on disk (working.sync()).
void remove(const OpenFolder& working);

} // namespace journal

} // namespace kavlento::fs
