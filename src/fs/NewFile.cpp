#include "fs/NewFile.h"

#include "base/Failure.h"

#include <QCoreApplication>

#include <random>

namespace kavlento::fs {

namespace {

constexpr std::string_view kPrefix = ".kavlento-";
constexpr std::string_view kSuffix = ".yaziliyor";

} // namespace

const QString kCannotCreateNewFile = QStringLiteral("Yedek dosyası oluşturulamadı");

// ".kavlento-<writer>-<process>-<random>.yaziliyor": the writer says whose
// run made it, the process who, for whoever looks.
std::string hiddenTemporaryName(const std::string& writer) {
    std::random_device random;
    return std::string(kPrefix) + writer + "-" +
           std::to_string(QCoreApplication::applicationPid()) + "-" + std::to_string(random()) +
           std::string(kSuffix);
}

bool isUnfinishedFileName(std::string_view name) {
    return name.size() >= kPrefix.size() + kSuffix.size() &&
           name.substr(0, kPrefix.size()) == kPrefix &&
           name.substr(name.size() - kSuffix.size()) == kSuffix;
}

void removeDeadUnfinishedFiles(const OpenFolder& folder, const std::string& writer) {
    const std::string own = std::string(kPrefix) + writer + "-";
    for (const std::string& name : folder.names(kCannotCreateNewFile)) {
        if (name.rfind(own, 0) != 0 || !isUnfinishedFileName(name) ||
            folder.lookUp(name).kind != PathKind::File || !isAbandoned(folder, name)) {
            continue;
        }
        try {
            folder.removeFile(name, kCannotCreateNewFile);
        } catch (const Failure&) {
            if (folder.lookUp(name).kind != PathKind::Missing) { // another run was first
                throw;
            }
        }
    }
}

std::string NewFile::temporaryPath() const {
    return tempName_.empty() ? std::string() : joinPath(folderPath_, tempName_);
}

} // namespace kavlento::fs
