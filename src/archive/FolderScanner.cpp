#include "archive/FolderScanner.h"

#include "app/Failure.h"
#include "archive/SystemFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kavlento::archive {

namespace {

const QString kCannotRead = QStringLiteral("Yedeklenecek klasör okunamadı");

struct FileId {
    dev_t device;
    ino_t inode;
    bool operator==(const FileId& other) const {
        return device == other.device && inode == other.inode;
    }
};

class Scanner {
public:
    Scanner(const ScanOptions& options) : options_(options) {
        for (const std::string& folder : options.excludedFolders) {
            struct stat st {};
            if (::stat(folder.c_str(), &st) == 0) {
                excluded_.push_back({st.st_dev, st.st_ino});
            }
        }
    }

    void scan(const std::string& folder, const std::string& prefix) {
        std::vector<std::string> names = list(folder);
        std::sort(names.begin(), names.end());
        for (const std::string& name : names) {
            if (!options_.includeHidden && name.front() == '.') {
                continue;
            }
            const std::string full = joinPath(folder, name);
            const std::string relative = prefix.empty() ? name : prefix + "/" + name;
            struct stat st {};
            if (::lstat(full.c_str(), &st) != 0) {
                throwSystemError(kCannotRead, full);
            }
            ScannedEntry entry;
            entry.relativeName = relative;
            entry.mode = st.st_mode;
            entry.modified = st.st_mtime;
            if (S_ISDIR(st.st_mode)) {
                if (isExcluded(st)) {
                    continue;
                }
                entry.kind = ScannedEntry::Kind::Folder;
                entries_.push_back(entry);
                if (options_.recurse) {
                    scan(full, relative);
                }
            } else if (S_ISREG(st.st_mode)) {
                entry.kind = ScannedEntry::Kind::File;
                entry.size = static_cast<std::uint64_t>(st.st_size);
                entries_.push_back(entry);
            } else if (S_ISLNK(st.st_mode)) {
                entry.kind = ScannedEntry::Kind::Link;
                entry.linkTarget = readLink(full, st);
                entry.size = entry.linkTarget.size();
                entries_.push_back(entry);
            }
            // Sockets, pipes and devices hold no data to keep.
        }
    }

    std::vector<ScannedEntry> take() { return std::move(entries_); }

private:
    static std::vector<std::string> list(const std::string& folder) {
        DIR* dir = ::opendir(folder.c_str());
        if (dir == nullptr) {
            throwSystemError(kCannotRead, folder);
        }
        std::vector<std::string> names;
        errno = 0;
        while (const dirent* item = ::readdir(dir)) {
            const std::string name = item->d_name;
            if (name != "." && name != "..") {
                names.push_back(name);
            }
            errno = 0;
        }
        const int error = errno;
        ::closedir(dir);
        if (error != 0) {
            throwSystemError(error, kCannotRead, folder);
        }
        return names;
    }

    static std::string readLink(const std::string& path, const struct stat& st) {
        std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX), '\0');
        const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
        if (n < 0) {
            throwSystemError(kCannotRead, path);
        }
        target.resize(static_cast<std::size_t>(n));
        return target;
    }

    bool isExcluded(const struct stat& st) const {
        return std::find(excluded_.begin(), excluded_.end(), FileId{st.st_dev, st.st_ino}) !=
               excluded_.end();
    }

    const ScanOptions& options_;
    std::vector<FileId> excluded_;
    std::vector<ScannedEntry> entries_;
};

} // namespace

std::vector<ScannedEntry> scanFolder(const std::string& root, const ScanOptions& options) {
    struct stat st {};
    if (::stat(root.c_str(), &st) != 0) {
        throwSystemError(kCannotRead, root);
    }
    if (!S_ISDIR(st.st_mode)) {
        throwSystemError(ENOTDIR, kCannotRead, root);
    }
    Scanner scanner(options);
    scanner.scan(root, std::string());
    return scanner.take();
}

bool isSameOrInside(const std::string& path, const std::string& folder) {
    char* resolvedPath = ::realpath(path.c_str(), nullptr);
    char* resolvedFolder = ::realpath(folder.c_str(), nullptr);
    bool inside = false;
    if (resolvedPath != nullptr && resolvedFolder != nullptr) {
        const std::string p = resolvedPath;
        std::string f = resolvedFolder;
        if (f.back() != '/') {
            f += '/';
        }
        inside = p + "/" == f || p.compare(0, f.size(), f) == 0;
    }
    std::free(resolvedPath);
    std::free(resolvedFolder);
    return inside;
}

} // namespace kavlento::archive
