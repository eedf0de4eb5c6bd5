#include "archive/TemporaryFolder.h"

#include "archive/SystemFile.h"

#include <QString>

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace kavlento::archive {

TemporaryFolder::TemporaryFolder(const std::string& parent, const std::string& namePrefix) {
    std::string pattern = joinPath(parent, namePrefix + "XXXXXX");
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (::mkdtemp(buffer.data()) == nullptr) {
        throwSystemError(QStringLiteral("Geçici klasör oluşturulamadı"), pattern);
    }
    path_ = buffer.data();
}

TemporaryFolder::~TemporaryFolder() {
    removeTree(path_);
}

bool removeTree(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code error;
    // Folders restored read-only must become writable before their contents can go.
    if (fs::is_directory(fs::symlink_status(path, error))) {
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, error);
        for (fs::recursive_directory_iterator it(path, error), end; !error && it != end;
             it.increment(error)) {
            if (it->is_directory(error) && !it->is_symlink(error)) {
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
            }
        }
    }
    error.clear();
    fs::remove_all(path, error);
    return !error;
}

} // namespace kavlento::archive
