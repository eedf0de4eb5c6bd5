#pragma once

#include <string>

namespace kavlento::archive {

// Whether the file at `path` is an archive this program wrote: a whole ZIP
// archive whose every file is a WinZip AES-256 entry that `password` opens.
// Anything else (another file, a damaged or foreign archive) is not.
bool isKavlentoArchive(const std::string& path, const std::string& password);

} // namespace kavlento::archive
