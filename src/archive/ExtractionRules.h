#pragma once

#include "zip/ZipDirectory.h"
#include "zip/ZipReader.h"

#include <memory>
#include <string>
#include <vector>

namespace kavlento::archive {

// What an extraction may write: the rules that keep every entry inside the
// destination folder. The ZIP format says what an entry is called; these
// rules say whether it may be written.

// The name policy of an extraction: names become relative paths ('.' and empty
// parts dropped); names that could lead outside the folder are refused, and so
// is Kavlento's working folder at the top. The archive's root ("./") is left
// out; a file or link named "." is refused.
zip::NamePolicy extractionNames(const std::string& archive);

// One path for one entry, and nothing below a file or a link, so that nothing
// is ever written through a link. Links themselves are data: where they point
// is no concern of an extraction, which never follows one, but their targets
// must fit in a link. A backup's read-back check applies these rules too, so
// an archive that passed it holds nothing a restore could not place.
void requireSafeTree(const std::string& archive, const std::vector<zip::ZipEntry>& entries);

// Reads the target of the link entry `entry` to its end and returns it; one
// with a zero byte is refused: the system would end it there, and the link
// would lead elsewhere than the one that was archived.
std::string readLinkTarget(const zip::ZipEntry& entry, zip::EntryReader& content);

// The archive at `path`, opened and checked as every extraction reads it.
std::unique_ptr<zip::ZipReader> openCheckedArchive(const std::string& path);
// The same for an archive already open, such as one just written.
std::unique_ptr<zip::ZipReader> openCheckedArchive(fs::UniqueFd file, const std::string& path);

} // namespace kavlento::archive
