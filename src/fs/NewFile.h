#pragma once

#include "fs/File.h"

#include <string>
#include <string_view>

namespace kavlento::fs {

// A new file that has no name until it is complete: it is written as an
// unnamed file in its folder where the file system can make one, else under a
// hidden temporary name there (FAT and exFAT), and publish() gives it its final
// name in one step, never replacing anything. Until then a crash or a failure
// leaves nothing under the final name; what a killed run of this host left
// under a temporary name is removed by the next one in that folder.
// Whether `name` is one a NewFile's temporary name can have.
bool isUnfinishedFileName(std::string_view name);

class NewFile {
public:
    NewFile(const std::string& folder, const std::string& fileName);
    // An unpublished file goes with its temporary name.
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    const UniqueFd& file() const { return fd_; }

    // Flushes the file to disk and drops its cached pages, so that what is
    // read next comes from the disk.
    void flush();
    // Puts the file under its final name; throws when that name is taken.
    void publish();

private:
    std::string folder_;
    std::string finalPath_;
    std::string tempPath_; // empty for an unnamed file
    UniqueFd fd_;
    bool published_ = false;
};

} // namespace kavlento::fs
