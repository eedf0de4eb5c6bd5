#pragma once

#include "fs/File.h"
#include "fs/StepWatch.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavlento::fs {

// A folder held open, and the paths below it, reached one name at a time and
// never through a link: whatever links lie in the tree, nothing done through
// this class reaches outside it, and a path of any length below it works.
// Relative paths are '/'-separated names without "." or ".."; the empty path
// is the folder itself. Several threads may use one at once.
class OpenFolder {
public:
    // The folder at `path`; links in `path` itself are followed, as whoever
    // named the folder meant them to be. `watch`, when given, is told of every
    // change made through it and through the folders opened from it.
    static OpenFolder open(const std::string& path, const QString& action,
                           StepWatch* watch = nullptr);

    // The folder at `relative`; nothing when nothing is there, when it is not
    // a folder, or when a link or a file lies on the way.
    std::optional<OpenFolder> folder(std::string_view relative) const;
    // What is at `relative`, a link not followed; Missing also when a link or
    // a file lies on the way.
    PathInfo lookUp(std::string_view relative = {}) const;
    // Whether the file system takes `a` and `b` (names in the folder at
    // `relative`) for one name: equal, or equal but for letter case where it
    // folds letter case (FAT, exFAT).
    bool sameName(std::string_view relative, std::string_view a, std::string_view b) const;
    // Whether this user may make and remove names in the folder at
    // `relative`, or may open it up to do so: it is not immutable, and it is
    // this user's, or this user may write in it, or this user is root.
    bool canChange(std::string_view relative) const;
    // Whether the file or folder at `relative` is immutable or append-only:
    // nobody, root included, may rename or remove it.
    bool isFixed(std::string_view relative) const;
    // The names in this folder, without "." and "..", in no particular order;
    // a folder that cannot be read throws, naming it.
    std::vector<std::string> names(const QString& action) const;
    // The target of the link at `relative`; nothing when no link is there.
    std::optional<std::string> readLink(std::string_view relative, const QString& action) const;

    // Creates a new file; fails when the name exists, a link included.
    UniqueFd createFile(std::string_view relative, std::uint32_t mode) const;
    // The existing file at `relative`; nothing when there is none, or a link.
    std::optional<UniqueFd> openForReading(std::string_view relative) const;
    void makeFolder(std::string_view relative, std::uint32_t mode, const QString& action) const;
    // The folder `name` in this one, for files that only this user is to
    // change: made with `mode` when it is missing. One that is there is used
    // only when it is this user's or the administrator's; where it is this
    // user's, the right of others to write in it is taken away first. Another
    // user's folder, and a link or a file in its place, are refused, naming it.
    OpenFolder ownFolder(const std::string& name, std::uint32_t mode, const QString& action) const;
    // Makes the folders of `relative` that are missing, with owner-only rights.
    void makeFolders(std::string_view relative, const QString& action) const;
    // Whether a link can be made in this folder now: a restore asks before it
    // changes anything.
    bool canMakeLinks() const;
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

    // Makes the content of `file`, at `relative`, durable.
    void syncFile(const UniqueFd& file, std::string_view relative) const;
    // Makes new names and renames in this folder durable.
    void sync() const;
    // Flushes everything written on the file system that holds this folder.
    void syncFileSystem() const;
    // Bytes free for this user on that file system: for the administrator,
    // with the blocks the file system keeps back for it. Nothing where the
    // file system does not say (FAT through FUSE counts no blocks at all).
    std::optional<std::uint64_t> availableBytes() const;
    // The group a file made in this folder gets: the folder's own where it has
    // the set-group-id bit, else this process's. Only a forecast: some file
    // systems give the folder's always (ext4 mounted with grpid).
    std::uint32_t groupOfNewFiles() const;

    // The path of `relative` below this folder, for messages.
    std::string pathOf(std::string_view relative) const;

    // This folder opened again for reading, for what needs a real descriptor of
    // it (its listing, a sync, a lock, a new unnamed file).
    UniqueFd reopen(const QString& action) const;

private:
    OpenFolder(UniqueFd fd, std::string path, StepWatch* watch)
        : fd_(std::move(fd)), path_(std::move(path)), watch_(watch) {}
    void tell(Step step, std::string_view relative, const OpenFolder* into = nullptr,
              std::string_view to = {}) const;

    // The folder that holds `relative`, open, and its last name. A Parent
    // moves freely: `shared` points at the OpenFolder's own descriptor, which
    // outlives it, never into the Parent itself.
    struct Parent {
        UniqueFd owned;                   // empty when the parent is this folder
        const UniqueFd* shared = nullptr; // this folder's, when the parent is it
        std::string_view name;
        const UniqueFd& folder() const { return shared != nullptr ? *shared : owned; }
    };
    std::optional<Parent> parentOf(std::string_view relative) const;
    Parent requireParent(std::string_view relative, const QString& action) const;
    void changeFolder(std::string_view relative, std::uint32_t mode,
                      std::optional<Timestamp> modified, const QString& action) const;
    UniqueFd fd_;
    std::string path_;
    StepWatch* watch_ = nullptr;
};

// The folder that holds a path below `root`, kept open while the next paths
// lie in it too: paths that come folder by folder are each reached in one step.
class HeldFolder {
public:
    explicit HeldFolder(const OpenFolder& root) : root_(root) {}

    // Nothing when that folder cannot be reached without a link.
    const OpenFolder* holding(std::string_view path);
    const OpenFolder& requireHolding(std::string_view path, const QString& action);

private:
    const OpenFolder& root_;
    std::string parent_;
    std::optional<OpenFolder> held_;
};

// The folder part of a relative path ("" at the top) and its last name.
std::string_view parentPath(std::string_view path);
std::string_view lastName(std::string_view path);

} // namespace kavlento::fs
