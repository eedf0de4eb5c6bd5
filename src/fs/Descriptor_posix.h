#pragma once

#include "fs/File.h"

namespace kavlento::fs {

// The descriptor inside a UniqueFd, for fs's own files that make the system
// calls, and for main's own *_posix.cpp files. Elsewhere above fs a file is a
// UniqueFd.
struct Descriptor {
    static int of(const UniqueFd& file) { return file.fd_; }
    // Takes ownership of `fd` (-1 for none).
    static UniqueFd adopt(int fd) { return UniqueFd(fd); }
};

} // namespace kavlento::fs
