#pragma once

#include <string>

namespace kavlento::fs {

// The changes fs makes to a folder tree that a restore is made of, each of
// which an I/O error or a power cut can stop.
enum class Step {
    Rename,
    ModeChange,
    Removal,       // a file, a link or an empty folder
    RemovalOfTree, // a folder with all it holds
    MakeFolder,
    NewFile,        // a file or link made, its content written after
    SyncFile,       // one file's content on disk
    Sync,           // a folder's names on disk
    SyncFileSystem, // everything written on the file system on disk
};

// One change: `path` is what changes (for a sync, what is synced), `to` where
// a rename takes it.
struct Change {
    Step step = Step::Rename;
    std::string path;
    std::string to;
};

// Told of every change before it is made, and may stop it by throwing, as the
// system would fail it. A folder opened with a watch hands it to every folder
// opened from it. Nothing watches outside tests.
class StepWatch {
public:
    virtual ~StepWatch() = default;
    virtual void before(const Change& change) = 0;
};

} // namespace kavlento::fs
