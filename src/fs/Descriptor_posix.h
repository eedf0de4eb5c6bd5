#pragma once

#include "fs/File.h"

#include <dirent.h>
#include <string>
#include <vector>

namespace kavlento::fs {

// The descriptor inside a UniqueFd, for fs's own files that make the system
// calls, and for main's own *_posix.cpp files. Elsewhere above fs a file is a
// UniqueFd.
struct Descriptor {
    static int of(const UniqueFd& file) { return file.fd_; }
    // Takes ownership of `fd` (-1 for none).
    static UniqueFd adopt(int fd) { return UniqueFd(fd); }
    // Hands the descriptor to a new owner (a directory stream).
    static int release(UniqueFd& file) { return file.release(); }
};

// What is at `name` in the open folder `folder` (a link not followed); Missing
// when nothing is there.
PathInfo lookUpIn(int folder, const std::string& name, const std::string& pathForErrors);

// The names in the directory stream `dir` but "." and "..", in the order read;
// closes the stream, also when reading it fails.
std::vector<std::string> namesIn(DIR* dir, const QString& action, const std::string& pathForErrors);

} // namespace kavlento::fs
