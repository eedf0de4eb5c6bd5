#pragma once

#include "fs/File.h"

#include <optional>
#include <string>
#include <string_view>

namespace kavlento::fs {

// A folder held open, and the paths below it, reached one name at a time and
// never through a link: whatever links lie in the tree, nothing done through
// this class reaches outside it, and a path of any length below it works.
// Relative paths are '/'-separated names without "." or ".."; the empty path
// is the folder itself. Several threads may use one at once.
class OpenFolder {
public:
    // The folder at `path`; links in `path` itself are followed, as whoever
    // named the folder meant them to be.
    static OpenFolder open(const std::string& path, const QString& action);

    // The folder at `relative`; nothing when nothing is there, when it is not
    // a folder, or when a link or a file lies on the way.
    std::optional<OpenFolder> folder(std::string_view relative) const;
    // What is at `relative`, a link not followed; Missing also when a link or
    // a file lies on the way.
    PathInfo lookUp(std::string_view relative = {}) const;

    // Creates a new file; fails when the name exists, a link included.
    UniqueFd createFile(std::string_view relative, std::uint32_t mode) const;
    // The existing file at `relative`; nothing when there is none, or a link.
    std::optional<UniqueFd> openForReading(std::string_view relative) const;
    void makeFolder(std::string_view relative, std::uint32_t mode, const QString& action) const;
    // Makes the folders of `relative` that are missing, with owner-only rights.
    void makeFolders(std::string_view relative, const QString& action) const;
    void makeLink(const std::string& target, std::string_view relative,
                  const QString& action) const;
    void setLinkTime(std::string_view relative, Timestamp modified, const QString& action) const;
    // Sets the mode and time of the folder at `relative`; a link there is refused.
    void setFolderModeAndTime(std::string_view relative, std::uint32_t mode, Timestamp modified,
                              const QString& action) const;
    void setFolderMode(std::string_view relative, std::uint32_t mode, const QString& action) const;
    // Gives the owner every right on the folder at `relative`, where there is one.
    void makeFolderWritable(std::string_view relative, const QString& action) const;

    // Renames `from` (below this folder) to `to` below `into`, replacing a file there.
    void rename(std::string_view from, const OpenFolder& into, std::string_view to,
                const QString& action) const;
    void removeFile(std::string_view relative, const QString& action) const;
    // Removes an empty folder; false when it is not empty or not there.
    bool removeEmptyFolder(std::string_view relative) const;
    // Removes `relative` and everything below it; false if something stayed.
    bool removeTree(std::string_view relative) const;

    // Makes new names and renames in this folder durable.
    void sync() const;
    // Flushes everything written on the file system that holds this folder.
    void syncFileSystem() const;
    // Bytes free for this user on that file system.
    std::uint64_t availableBytes() const;

    // The path of `relative` below this folder, for messages.
    std::string pathOf(std::string_view relative) const;

private:
    OpenFolder(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

    // The folder that holds `relative`, open, and its last name.
    struct Parent {
        UniqueFd owned; // empty when the parent is this folder
        int fd = -1;
        std::string_view name;
    };
    std::optional<Parent> parentOf(std::string_view relative) const;
    Parent requireParent(std::string_view relative, const QString& action) const;
    void changeFolder(std::string_view relative, std::uint32_t mode,
                      std::optional<Timestamp> modified, const QString& action) const;
    // This folder opened for reading: folders are held only as passages, which
    // a user may search without reading.
    UniqueFd readable(const QString& action) const;

    UniqueFd fd_;
    std::string path_;
};

} // namespace kavlento::fs
