#include "fs/FolderScanner.h"

#include <algorithm>

namespace kavlento::fs {

namespace {

const QString kCannotRead = QStringLiteral("Yedeklenecek klasör okunamadı");

class Scanner {
public:
    Scanner(const ScanOptions& options, ScannedTree& tree) : options_(options), tree_(tree) {}

    void scan(const std::string& folder, const std::string& prefix, const PathInfo& self) {
        ancestors_.push_back(self);
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
                entry.kind = EntryKind::Folder;
                entry.size = 0;
                add(entry, relative);
                if (options_.recurse && !isAncestor(info)) {
                    scan(full, relative, info);
                }
                break;
            case PathKind::File:
                if (options_.leaveOutFile && options_.leaveOutFile(full, info)) {
                    break;
                }
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
        ancestors_.pop_back();
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

    bool isAncestor(const PathInfo& folder) const {
        return std::any_of(ancestors_.begin(), ancestors_.end(),
                           [&](const PathInfo& a) { return a.sameFile(folder); });
    }

    const ScanOptions& options_;
    ScannedTree& tree_;
    std::vector<PathInfo> ancestors_; // the folders being listed, outermost first
};

} // namespace

ScannedTree scanFolder(const std::string& root, const ScanOptions& options) {
    requireFolder(root, kCannotRead);
    ScannedTree tree;
    Scanner(options, tree).scan(root, std::string(), lookUpFollowing(root));
    return tree;
}

} // namespace kavlento::fs
