#pragma once

#include "base/TreeEntry.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The one home of file-system access. Paths are the system's own bytes (UTF-8
// on Linux). What differs between systems is implemented in File_<system>.cpp;
// everything above this header is the same on every system.
namespace kavlento::fs {

std::string toSystemPath(const QString& path);
QString fromSystemPath(std::string_view path);
std::string joinPath(const std::string& folder, std::string_view relative);
// The folder that holds `path`: "." for a bare name, "/" for a name at the root.
std::string folderOf(const std::string& path);

// Throws the Failure for a system error number (the current one by default),
// naming `path`.
[[noreturn]] void throwSystemError(const QString& action, const std::string& path);
[[noreturn]] void throwSystemError(int error, const QString& action, const std::string& path);

// An open file, closed when it goes. The system's handle inside it is reached
// only by fs's own system files (fs/Descriptor_<system>.h): everything above fs
// works through the functions below.
class UniqueFd {
#ifdef _WIN32
    // A Windows HANDLE; INVALID_HANDLE_VALUE for none, without <windows.h> here.
    using Handle = void*;
    static Handle none() {
        return reinterpret_cast<Handle>(static_cast<std::intptr_t>(-1));
    }
#else
    using Handle = int;
    static Handle none() {
        return -1;
    }
#endif

public:
    UniqueFd() = default;
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    bool valid() const {
        return fd_ != none();
    }
    // Closes now and reports a failed close, which can carry a delayed write error.
    void close(const std::string& pathForErrors);

private:
    friend struct Descriptor;
    explicit UniqueFd(Handle fd) : fd_(fd) {}
    Handle release();

    Handle fd_ = none();
};

enum class PathKind { Missing, File, Folder, Link, Other };

// What the system says about a path itself (a link is not followed).
struct PathInfo {
    PathKind kind = PathKind::Missing;
    std::uint64_t size = 0;
    Timestamp modified;
    Timestamp changed;       // the last change of content or attributes
    std::uint32_t mode = 0;  // permission bits
    std::uint32_t owner = 0; // the user it belongs to
    std::uint32_t group = 0; // the group it belongs to
    std::uint32_t links = 0; // the names it has
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    // Which mount the path lies on: a rename works only within one.
    std::uint64_t mount = 0;

    bool sameFile(const PathInfo& other) const {
        return device == other.device && inode == other.inode;
    }
    // Same size and times: nothing was written in between.
    bool sameVersion(const PathInfo& other) const {
        return size == other.size && modified == other.modified && changed == other.changed;
    }
};

// Missing for a path that does not exist; any other error throws.
PathInfo lookUp(const std::string& path);
// The same, following links.
PathInfo lookUpFollowing(const std::string& path);
PathInfo lookUp(const UniqueFd& file, const std::string& pathForErrors);

enum class AtALink { Refuse, Follow };
// Opens an existing file for reading; a link at its place is not opened unless
// it is to be followed. Empty when there is no file (any more), or a link
// that is not to be followed; other errors throw.
std::optional<UniqueFd> openForReading(const std::string& path, AtALink link = AtALink::Refuse);
// Creates a new file for writing; fails when the name exists.
UniqueFd createNew(const std::string& path, std::uint32_t mode);
// Opens the file (creating it when missing) for reading and writing, keeping
// the content. A link in its place is replaced by a new file, never followed;
// anything else that is not a file is refused.
UniqueFd openForUpdate(const std::string& path);
// A second descriptor of the same open file.
UniqueFd duplicate(const UniqueFd& file, const std::string& pathForErrors);

// Reads exactly `size` bytes at `offset`; throws on an error or a short read
// (FailureCode::InputPastEnd).
void readExactly(const UniqueFd& file, std::uint64_t offset, void* buffer, std::size_t size,
                 const std::string& path);
// Reads up to `size` bytes at `offset`; fewer only at the end of the file.
std::size_t readAt(const UniqueFd& file, std::uint64_t offset, void* buffer, std::size_t size,
                   const std::string& path);
void writeAllAt(const UniqueFd& file, std::uint64_t offset, const void* buffer, std::size_t size,
                const std::string& path);
void truncateTo(const UniqueFd& file, std::uint64_t size, const std::string& path);
void syncFile(const UniqueFd& file, const std::string& path);
// Starts writing a range of a file to the disk without waiting, so that a
// later syncFile has less left to wait for. Only a request.
void startWriting(const UniqueFd& file, std::uint64_t offset, std::uint64_t size);
// Asks the system to drop the file's cached pages, so that the next read comes
// from the disk. Only a request: where it is not honoured the read comes from
// memory.
void dropCachedPages(const UniqueFd& file);

// Makes renames and new names in `folder` durable.
void syncFolder(const std::string& folder);
// The same for a folder held open; `path` names it in messages.
void syncFolder(const UniqueFd& folder, const std::string& path);

// `path` with every link, "." and ".." resolved; nothing when it leads nowhere.
std::optional<std::string> resolvedPath(const std::string& path);

// Throws unless `path` is an existing folder (links followed).
void requireFolder(const std::string& path, const QString& action);
void makeFolder(const std::string& path, std::uint32_t mode, const QString& action);
// The same, where a folder already at `path` (made by another process in the
// meantime, say) is taken as it is. A link or a file there is refused: what
// is written into the folder never goes through a link to somewhere else.
void makeFolderUnlessPresent(const std::string& path, std::uint32_t mode, const QString& action);
// The names in a folder, without "." and "..", in no particular order.
std::vector<std::string> listFolder(const std::string& path, const QString& action);
// Renames, replacing a file at `to`.
void renamePath(const std::string& from, const std::string& to, const QString& action);
void removeFile(const std::string& path, const QString& action);
// Removes `path` and everything below it, never following links. Returns
// false if something could not be removed.
bool removeTree(const std::string& path);

// A link's target; nothing when there is no link at `path` (any more).
std::optional<std::string> readLinkTarget(const std::string& path, const QString& action);
// Sets permission bits and the modification time of an open file or folder.
void setModeAndTime(const UniqueFd& file, std::uint32_t mode, Timestamp modified,
                    const std::string& pathForErrors, const QString& action);

// Why this user could not make files in `folder`: the system's error number
// (EROFS for a read-only disk, EACCES without permission, ENOENT when it is
// not there), or 0 when nothing stands in the way.
int creationRefusal(const std::string& folder);
// The same for reading the file at `path`.
int readingRefusal(const std::string& path);

// The folder that holds the running program's executable, with links
// resolved, as the system's own bytes.
std::string executableFolder();

// This machine's host name.
std::string hostName();
// What tells this machine from every other, clones with its host name
// included: the system's machine id (`/etc/machine-id`, else D-Bus's copy),
// hashed with a key of Kavlento's own so that the id itself, which the system
// keeps private, is never written anywhere; empty where there is none.
std::string machineIdentity();

// The user this process acts as, and whether that is the administrator.
std::uint32_t effectiveUser();
bool isAdministrator();

} // namespace kavlento::fs
