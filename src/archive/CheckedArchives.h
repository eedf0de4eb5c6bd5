#pragma once

#include "fs/File.h"

#include <string>
#include <vector>

namespace kavlento::archive {

// The archives already read whole and found sound, listed in the program
// folder, so that retention reads each archive once rather than every night.
// An archive counts as checked only while it is the very file that was read
// (device and inode) with the same size and times: a write, a rename or a
// change of rights changes its change time, which no user can set.
class CheckedArchives {
public:
    // The list's name at the top of the program folder, and its name while
    // it is written.
    static constexpr const char* kFileName = ".kavlento-denetlenen";
    static constexpr const char* kTemporaryName = ".kavlento-denetlenen.yeni";

    // The list of `programFolder`; an absent or unreadable one is empty, and
    // so is one that someone else could have written.
    explicit CheckedArchives(std::string programFolder);

    bool contains(const fs::PathInfo& archive) const;
    // Adds an archive that has just been read whole.
    void add(const fs::PathInfo& archive);
    // Writes the list with the archives `stillThere` holds that it lists.
    void save(const std::vector<fs::PathInfo>& stillThere) const;

private:
    std::string programFolder_;
    std::vector<fs::PathInfo> checked_;
};

} // namespace kavlento::archive
