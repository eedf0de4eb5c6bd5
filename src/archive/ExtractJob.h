#pragma once

#include "archive/ArchiveCommand.h"
#include "archive/JobControl.h"

#include <string>
#include <vector>

namespace kavlento::archive {

// Extracts a whole archive into a folder, overwriting files of the same name
// and leaving files the archive lacks. Nothing in the folder changes until
// every entry has been extracted and checked (see FolderTransaction), and 100 %
// is reported only once every file is in place and on disk. Archives whose
// entries would land outside the folder are refused before anything is written.
// Names at the top of the folder listed in `leftAlone` are not restored, nor
// anything below them: what the folder has under them, or lacks, stays so.
void runExtract(const ExtractCommand& command, JobControl& control, unsigned threads = 0,
                const std::vector<std::string>& leftAlone = {});

} // namespace kavlento::archive
