#pragma once

#include "fs/File.h"
#include "fs/OpenFolder.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace kavlento::fs {

// Whether `name` is one a NewFile's temporary name can have.
bool isUnfinishedFileName(std::string_view name);

// For NewFile's own system files: the hidden name a new file of `writer`
// starts under, whether nobody is writing the unfinished file `name` any
// more, and what their failures say.
std::string hiddenTemporaryName(const std::string& writer);
bool isAbandoned(const OpenFolder& folder, const std::string& name);
extern const QString kCannotCreateNewFile;

// Removes the unfinished files that killed runs of `writer` left in `folder`:
// nobody finishes them. Those of living writers, and of other writers (another
// folder's, another machine's, which may be writing), stay.
void removeDeadUnfinishedFiles(const OpenFolder& folder, const std::string& writer);

// A new file that has no name until it is complete: it is written as an
// unnamed file in its folder where the file system can make one, else under a
// hidden temporary name there (FAT and exFAT), and publishAs() gives it its
// name in one step, never replacing anything. Until then a crash or a failure
// leaves nothing under any name but the temporary one. The folder is held open
// from the start, so the file stays in it even if a link takes its name.
class NewFile {
public:
    // `fileName` names the file in messages until it is published; `mode` is
    // its permission bits from the moment it exists. `writer` ([0-9a-z_]) goes
    // into a temporary name, to tell whose it is.
    NewFile(const OpenFolder& folder, const std::string& fileName, std::uint32_t mode,
            const std::string& writer);
    // An unpublished file goes with its temporary name.
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    const UniqueFd& file() const { return fd_; }

    // Flushes the file to disk and drops its cached pages, so that what is
    // read next comes from the disk.
    void flush();
    // Puts the file under `fileName` in its folder; false, changing nothing,
    // when that name is taken.
    bool publishAs(const std::string& fileName);
    // Removes the file again under the name it was published as, if that name
    // still holds it; false when it does not.
    bool unpublish();
    // Takes away the unpublished file; false when its temporary name could not
    // be removed (it then stays, and the next backup here removes it).
    bool discard();
    // Where the unpublished file lies; empty for an unnamed one.
    std::string temporaryPath() const;

private:
    // The rename of the temporary name to `fileName`, never replacing.
    bool renameWithoutReplacing(const std::string& fileName, const std::string& path) const;

    std::string folderPath_;
    UniqueFd folder_; // a real descriptor of the folder, not only a passage
    std::string pathForErrors_;
    std::string tempName_; // empty for an unnamed file
    UniqueFd fd_;
    std::string published_; // the name it got
};

} // namespace kavlento::fs
