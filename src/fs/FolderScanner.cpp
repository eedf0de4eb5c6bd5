#include "fs/FolderScanner.h"

#include <algorithm>

namespace kavlento::fs {

namespace {

const QString kCannotRead = QStringLiteral("Yedeklenecek klasör okunamadı");

class Scanner {
public:
    Scanner(const ScanOptions& options, ScannedTree& tree) : options_(options), tree_(tree) {}

    void scan(const OpenFolder& folder, const std::string& prefix) {
        ancestors_.push_back(folder.lookUp());
        std::vector<std::string> names = folder.names(kCannotRead);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (!options_.includeHidden && name.front() == '.') {
                continue;
            }
            const std::string relative = prefix.empty() ? name : prefix + "/" + name;
            PathInfo info = folder.lookUp(name);
            std::optional<OpenFolder> inner;
            if (info.kind == PathKind::Folder) {
                // What is listed is what was opened: a folder swapped for a link
                // (or anything else) since the look-up is taken as it is now.
                inner = folder.folder(name);
                info = inner ? inner->lookUp() : folder.lookUp(name);
            }
            if (options_.leaveOut && options_.leaveOut({folder, name, relative, info})) {
                continue;
            }
            add(info, relative, inner);
        }
        ancestors_.pop_back();
    }

private:
    void add(const PathInfo& info, const std::string& relative,
             const std::optional<OpenFolder>& inner) {
        TreeEntry entry;
        entry.mode = info.mode;
        entry.modified = info.modified;
        entry.size = info.size; // a link's size is the length of its target
        switch (info.kind) {
        case PathKind::Folder:
            entry.kind = EntryKind::Folder;
            entry.size = 0;
            record(entry, relative);
            if (options_.recurse && inner && !isAncestor(info)) {
                scan(*inner, relative);
            }
            break;
        case PathKind::File:
            entry.kind = EntryKind::File;
            record(entry, relative);
            break;
        case PathKind::Link:
            entry.kind = EntryKind::Link;
            record(entry, relative);
            break;
        case PathKind::Missing: // gone since the folder was listed
        case PathKind::Other:   // sockets, pipes and devices hold no data to keep
            break;
        }
    }

    void record(TreeEntry entry, const std::string& relative) {
        entry.path = tree_.names.add(relative);
        tree_.entries.push_back(entry);
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

ScannedTree scanFolder(const OpenFolder& root, const ScanOptions& options) {
    ScannedTree tree;
    Scanner(options, tree).scan(root, std::string());
    return tree;
}

} // namespace kavlento::fs
