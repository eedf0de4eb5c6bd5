#include "fs/Mounts.h"

#include "fs/Descriptor_posix.h"
#include "fs/File.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace kavlento::fs {

namespace {

// The tables write a blank, tab, line end or backslash in a path as \ooo.
std::string unescapeOctal(const std::string& text) {
    std::string out;
    const auto isOctal = [](char c) { return c >= '0' && c <= '7'; };
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && isOctal(text[i + 1]) &&
            isOctal(text[i + 2]) && isOctal(text[i + 3])) {
            out += static_cast<char>((text[i + 1] - '0') * 64 + (text[i + 2] - '0') * 8 +
                                     (text[i + 3] - '0'));
            i += 3;
        } else {
            out += text[i];
        }
    }
    return out;
}

// Without repeated or trailing slashes, so that two spellings compare equal.
std::string normalised(const std::string& path) {
    std::string out;
    for (const char c : path) {
        if (c != '/' || out.empty() || out.back() != '/') {
            out += c;
        }
    }
    while (out.size() > 1 && out.back() == '/') {
        out.pop_back();
    }
    return out;
}

bool isSameOrBelow(const std::string& path, const std::string& folder) {
    return path == folder || folder == "/" ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

// The given field (counted from 0) of each line that has it, unescaped;
// comment lines are passed over.
std::vector<std::string> fieldOfEachLine(const std::string& file, std::size_t field) {
    std::vector<std::string> values;
    std::ifstream in(file);
    for (std::string line; std::getline(in, line);) {
        std::istringstream words(line);
        std::vector<std::string> fields;
        for (std::string word; fields.size() <= field && words >> word;) {
            fields.push_back(word);
        }
        if (fields.size() > field && fields.front().front() != '#') {
            values.push_back(normalised(unescapeOctal(fields[field])));
        }
    }
    return values;
}

std::vector<std::string> configuredMountPoints(const MountTables& tables) {
    std::vector<std::string> points;
    for (const std::string& point : fieldOfEachLine(tables.fstab, 1)) {
        if (point.front() == '/') { // not "none" nor "swap"
            points.push_back(point);
        }
    }
    for (const std::string& folder : tables.unitFolders) {
        if (lookUpFollowing(folder).kind != PathKind::Folder) {
            continue;
        }
        for (const std::string& name : listFolder(folder, QStringLiteral("Klasör okunamadı"))) {
            if (name.size() <= 6 || name.compare(name.size() - 6, 6, ".mount") != 0) {
                continue;
            }
            std::ifstream unit(joinPath(folder, name));
            for (std::string line; std::getline(unit, line);) {
                if (line.rfind("Where=", 0) == 0) {
                    points.push_back(normalised(line.substr(6)));
                }
            }
        }
    }
    return points;
}

// The folder itself, or the nearest one above it that exists.
std::string nearestExisting(std::string path) {
    while (path != "/" && lookUpFollowing(path).kind == PathKind::Missing) {
        path = folderOf(path);
    }
    return path;
}

// `path` with the links, "." and ".." of the part that exists resolved, and
// the rest taken as written: the folder a backup would really write to, which
// no link or ".." may hide from the rules below.
std::string resolvedAsFarAsItExists(const std::string& path) {
    std::vector<std::string> missing; // the names below the existing part, last first
    std::string existing = normalised(path);
    std::optional<std::string> resolved;
    while (!(resolved = resolvedPath(existing)) && existing != "/" && existing != ".") {
        missing.push_back(existing.substr(existing.rfind('/') + 1));
        existing = folderOf(existing);
    }
    std::string out = resolved.value_or(existing);
    for (auto name = missing.rbegin(); name != missing.rend(); ++name) {
        if (*name == "..") {
            out = folderOf(out);
        } else if (*name != "." && !name->empty()) {
            out = joinPath(out, *name);
        }
    }
    return out;
}

bool isUnderRemovableMediaFolder(const std::string& path) {
    static const char* const kBases[] = {"/media", "/run/media", "/mnt"};
    return std::any_of(std::begin(kBases), std::end(kBases),
                       [&](const char* base) { return isSameOrBelow(path, base) && path != base; });
}

// The type ("fuseblk", "fuse.fusefat") and source of the mount of the file
// system `device`, as /proc/self/mountinfo lists them; empty when it is not
// listed.
std::pair<std::string, std::string> mountTypeOf(dev_t device) {
    const std::string wanted = std::to_string(major(device)) + ':' + std::to_string(minor(device));
    std::ifstream table("/proc/self/mountinfo");
    for (std::string line; std::getline(table, line);) {
        std::istringstream fields(line);
        std::string id, parent, number, word, type, source;
        fields >> id >> parent >> number;
        if (number != wanted) {
            continue;
        }
        while (fields >> word && word != "-") { // the mount's own fields end at "-"
        }
        fields >> type >> source;
        return {type, unescapeOctal(source)};
    }
    return {};
}

// Whether the block device `device`, named `path`, holds exFAT: exfat-fuse
// mounts as plain "fuseblk", naming no file system. Where only the
// administrator may read the device, udev's record of it tells.
bool holdsExfat(const std::string& path, dev_t device) {
    const UniqueFd fd =
        Descriptor::adopt(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    char start[11] = {};
    if (fd.valid() && ::fstat(Descriptor::of(fd), &info) == 0 && S_ISBLK(info.st_mode) &&
        info.st_rdev == device &&
        ::pread(Descriptor::of(fd), start, sizeof start, 0) == sizeof start) {
        return std::string_view(start + 3, 8) == "EXFAT   ";
    }
    std::ifstream udev("/run/udev/data/b" + std::to_string(major(device)) + ':' +
                       std::to_string(minor(device)));
    for (std::string line; std::getline(udev, line);) {
        if (line == "E:ID_FS_TYPE=exfat") {
            return true;
        }
    }
    return false;
}

} // namespace

bool keepsNoPermissions(std::uint64_t device) {
    const auto [type, source] = mountTypeOf(static_cast<dev_t>(device));
    // A FUSE mount's type names its driver after a dot, where it names one.
    const std::string name = type.substr(type.find('.') + 1);
    return name == "vfat" || name == "msdos" || name == "exfat" || name == "fusefat" ||
           (type == "fuseblk" && holdsExfat(source, static_cast<dev_t>(device)));
}

bool closedToOthers(const PathInfo& info) {
    return (info.mode & 022) == 0 || keepsNoPermissions(info.device);
}

bool onlyOwnerMayChange(const PathInfo& info) {
    return (info.owner == effectiveUser() || info.owner == 0) && closedToOthers(info);
}

std::string absentDiskFolder(const std::string& folder, const MountTables& tables) {
    const std::string path = resolvedAsFarAsItExists(folder);
    const std::vector<std::string> mounted = fieldOfEachLine(tables.mounted, 4);
    for (const std::string& point : configuredMountPoints(tables)) {
        if (isSameOrBelow(path, point) &&
            std::find(mounted.begin(), mounted.end(), point) == mounted.end()) {
            return point;
        }
    }
    if (isUnderRemovableMediaFolder(path) &&
        lookUpFollowing(nearestExisting(path)).device == lookUpFollowing("/").device) {
        return path;
    }
    return std::string();
}

} // namespace kavlento::fs
