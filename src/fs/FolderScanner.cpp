#include "fs/FolderScanner.h"

#include "fs/File.h"

#include <algorithm>
#include <filesystem>

namespace kavlento::fs {

namespace {

const QString kCannotRead = QStringLiteral("Yedeklenecek klasör okunamadı");

class Scanner {
public:
    Scanner(const ScanOptions& options, ScannedTree& tree) : options_(options), tree_(tree) {
        for (const std::string& folder : options.excludedFolders) {
            const PathInfo info = lookUpFollowing(folder);
            if (info.kind == PathKind::Folder) {
                excluded_.push_back(info);
            }
        }
    }

    void scan(const std::string& folder, const std::string& prefix) {
        std::vector<std::string> names = listFolder(folder, kCannotRead);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if ((!options_.includeHidden && name.front() == '.') || isExcludedName(name)) {
                continue;
            }
            const std::string full = joinPath(folder, name);
            const std::string relative = prefix.empty() ? name : prefix + "/" + name;
            const PathInfo info = lookUp(full);
            TreeEntry entry;
            entry.mode = info.mode;
            entry.modified = info.modified;
            entry.size = info.size; // a link's size is the length of its target
            switch (info.kind) {
            case PathKind::Folder:
                if (isExcluded(info)) {
                    continue;
                }
                entry.kind = EntryKind::Folder;
                entry.size = 0;
                add(entry, relative);
                if (options_.recurse) {
                    scan(full, relative);
                }
                break;
            case PathKind::File:
                entry.kind = EntryKind::File;
                add(entry, relative);
                break;
            case PathKind::Link:
                entry.kind = EntryKind::Link;
                add(entry, relative);
                break;
            case PathKind::Missing: // gone since the folder was listed
            case PathKind::Other:   // sockets, pipes and devices hold no data to keep
                break;
            }
        }
    }

private:
    void add(TreeEntry entry, const std::string& relative) {
        entry.path = tree_.names.add(relative);
        tree_.entries.push_back(entry);
    }

    bool isExcludedName(const std::string& name) const {
        const auto& names = options_.excludedNames;
        return std::find(names.begin(), names.end(), name) != names.end();
    }

    bool isExcluded(const PathInfo& folder) const {
        return std::any_of(excluded_.begin(), excluded_.end(),
                           [&](const PathInfo& e) { return e.sameFile(folder); });
    }

    const ScanOptions& options_;
    ScannedTree& tree_;
    std::vector<PathInfo> excluded_;
};

} // namespace

ScannedTree scanFolder(const std::string& root, const ScanOptions& options) {
    requireFolder(root, kCannotRead);
    ScannedTree tree;
    Scanner(options, tree).scan(root, std::string());
    return tree;
}

bool isSameOrInside(const std::string& path, const std::string& folder) {
    std::error_code error;
    const std::string p = std::filesystem::canonical(path, error).string();
    if (error) {
        return false;
    }
    std::string f = std::filesystem::canonical(folder, error).string();
    if (error) {
        return false;
    }
    if (f.back() != '/') {
        f += '/';
    }
    return p + "/" == f || p.compare(0, f.size(), f) == 0;
}

} // namespace kavlento::fs
