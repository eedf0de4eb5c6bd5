#pragma once

#include "base/Failure.h"
#include "fs/OpenFolder.h"

#include <QString>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kavlento::fs {

// The working folders of a restore: one at the top of the destination, and
// one at the top of every other file system mounted inside it that entries
// land on, so that every move is a rename. Each holds the new files, staged
// ("yeni"), and the old ones they replace and the paths that go ("eski").
namespace restore {

constexpr const char* kWorkingFolder = ".kavlento-geri-yukleme";
constexpr const char* kStaged = "yeni";
constexpr const char* kOld = "eski";

// A working folder, on the mount of `mountFolder` (relative to the
// destination; empty for the destination itself).
struct Area {
    std::string mountFolder;
    std::string root; // relative to the destination
    std::optional<OpenFolder> folder;
    std::optional<OpenFolder> staged;
    std::optional<OpenFolder> old;
};

// The areas of the destination itself and of the mounts at `mountFolders`.
std::vector<Area> areasOf(const std::vector<std::string>& mountFolders);
// Opens the area's folders that are there.
void openArea(const OpenFolder& destination, Area& area);
// Only old files of a restore that is done, or nothing, are in them: what
// cannot be removed now stays until it can, and stops nothing. The areas'
// folders are closed.
void removeWorkingFolders(const OpenFolder& destination, std::vector<Area>& areas) noexcept;

bool exists(const OpenFolder& folder, std::string_view path);
// A restore refused before anything changed, why, and the path that says where.
[[noreturn]] void refuse(FailureCode code, const QString& why, const std::string& path);

} // namespace restore

} // namespace kavlento::fs
