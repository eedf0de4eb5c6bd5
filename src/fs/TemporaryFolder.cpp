#include "fs/TemporaryFolder.h"

#include "fs/File.h"

#include <QString>

#include <cstdlib>
#include <vector>

namespace kavlento::fs {

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

} // namespace kavlento::fs
