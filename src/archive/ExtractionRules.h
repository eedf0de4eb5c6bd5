#pragma once

#include "zip/ZipDirectory.h"
#include "zip/ZipReader.h"

#include <memory>

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace kavlento::archive {

// What an extraction may write: the rules that keep every entry inside the
// destination folder. The ZIP format says what an entry is called; these
// rules say whether it may be written.

// The name policy of an extraction: names become relative paths ('.' and empty
// parts dropped); names that could lead outside the folder are refused, and so
// are Kavlento's own working folders. The archive's root ("./") is left out.
zip::NamePolicy extractionNames(const std::string& archive);

// One path for one entry, and nothing below a file or a link, so that nothing
// is ever written through a link.
void requireSafeTree(const std::string& archive, const std::vector<zip::ZipEntry>& entries);

// The archive at `path`, opened and checked as every extraction reads it.
std::unique_ptr<zip::ZipReader> openCheckedArchive(const std::string& path);

// A link's target is safe when, read from the link's own folder, it stays inside
// the extraction folder and passes through no other link of the archive.
bool isSafeLinkTarget(std::string_view linkPath, const std::string& target,
                      const std::set<std::string>& linkPaths);

} // namespace kavlento::archive
