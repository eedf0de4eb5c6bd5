#pragma once

#include "fs/File.h"

#include <string>

namespace kavlento::fs {

// A new archive file that has no name until it is complete: it is written as an
// unnamed file in the destination folder (or, where the file system cannot do
// that, under a hidden temporary name) and given its final name in one step by
// publish(). Until then a crash or a failure leaves nothing under the final name,
// and an existing archive of that name stays as it was.
class NewFile {
public:
    NewFile(const std::string& folder, const std::string& fileName);
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    int fd() const { return fd_.get(); }
    const std::string& finalPath() const { return finalPath_; }

    // Flushes the file to disk and puts it under its final name, replacing an
    // existing file there only when `replaceExisting`.
    void publish(bool replaceExisting);

private:
    std::string uniqueHiddenName() const;

    std::string folder_;
    std::string finalPath_;
    std::string tempPath_; // empty for an unnamed file
    UniqueFd fd_;
    bool published_ = false;
};

} // namespace kavlento::fs
