#include "archive/CheckedArchives.h"

#include "base/Failure.h"
#include "fs/Mounts.h"
#include "fs/SmallFile.h"

#include <QByteArray>
#include <QList>

#include <algorithm>

namespace kavlento::archive {

namespace {

constexpr const char* kMark = "KD1";
// Far more lines than a target holds archives.
constexpr std::uint64_t kLargest = 1 << 20;

bool sameArchive(const fs::PathInfo& a, const fs::PathInfo& b) {
    return a.sameFile(b) && a.sameVersion(b);
}

QByteArray lineOf(const fs::PathInfo& archive) {
    QByteArray line;
    for (const std::uint64_t number : {archive.device, archive.inode, archive.size,
                                       static_cast<std::uint64_t>(archive.modified.seconds),
                                       std::uint64_t{archive.modified.nanoseconds},
                                       static_cast<std::uint64_t>(archive.changed.seconds),
                                       std::uint64_t{archive.changed.nanoseconds}}) {
        line += QByteArray::number(static_cast<qulonglong>(number)) + ' ';
    }
    line.back() = '\n';
    return line;
}

// Nothing for a line that is not of the list's form.
std::optional<fs::PathInfo> archiveOf(const QByteArray& line) {
    const QList<QByteArray> fields = line.split(' ');
    std::vector<std::uint64_t> numbers;
    for (const QByteArray& field : fields) {
        bool ok = false;
        numbers.push_back(field.toULongLong(&ok));
        if (!ok) {
            return std::nullopt;
        }
    }
    if (numbers.size() != 7) {
        return std::nullopt;
    }
    fs::PathInfo archive;
    archive.kind = fs::PathKind::File;
    archive.device = numbers[0];
    archive.inode = numbers[1];
    archive.size = numbers[2];
    archive.modified = {static_cast<std::int64_t>(numbers[3]),
                        static_cast<std::uint32_t>(numbers[4])};
    archive.changed = {static_cast<std::int64_t>(numbers[5]),
                       static_cast<std::uint32_t>(numbers[6])};
    return archive;
}

// The list's bytes, when it is a file only this user or root could have written.
std::optional<QByteArray> trustedBytes(const std::string& path) {
    const std::optional<fs::UniqueFd> file = fs::openForReading(path);
    if (!file) {
        return std::nullopt;
    }
    const fs::PathInfo info = fs::lookUp(*file, path);
    if (info.kind != fs::PathKind::File || !fs::onlyOwnerMayChange(info) || info.size > kLargest) {
        return std::nullopt;
    }
    QByteArray bytes(static_cast<qsizetype>(info.size), '\0');
    fs::readExactly(*file, 0, bytes.data(), bytes.size(), path);
    return bytes;
}

} // namespace

CheckedArchives::CheckedArchives(std::string programFolder)
    : programFolder_(std::move(programFolder)) {
    std::optional<QByteArray> bytes;
    try {
        bytes = trustedBytes(fs::joinPath(programFolder_, kFileName));
    } catch (const Failure&) {
        return; // unreadable: every archive is read again, as the first night
    }
    if (!bytes || !bytes->startsWith(QByteArray(kMark) + '\n')) {
        return;
    }
    const QList<QByteArray> lines = bytes->mid(4).split('\n');
    for (const QByteArray& line : lines) {
        if (line.isEmpty()) {
            continue;
        }
        const std::optional<fs::PathInfo> archive = archiveOf(line);
        if (!archive) {
            checked_.clear(); // damaged: nothing of it is believed
            return;
        }
        checked_.push_back(*archive);
    }
}

bool CheckedArchives::contains(const fs::PathInfo& archive) const {
    return std::any_of(checked_.begin(), checked_.end(),
                       [&](const fs::PathInfo& a) { return sameArchive(a, archive); });
}

void CheckedArchives::add(const fs::PathInfo& archive) {
    if (!contains(archive)) {
        checked_.push_back(archive);
    }
}

void CheckedArchives::save(const std::vector<fs::PathInfo>& stillThere) const {
    QByteArray bytes = QByteArray(kMark) + '\n';
    for (const fs::PathInfo& archive : stillThere) {
        if (contains(archive)) {
            bytes += lineOf(archive);
        }
    }
    fs::replaceFile(fs::fromSystemPath(fs::joinPath(programFolder_, kTemporaryName)),
                    fs::fromSystemPath(fs::joinPath(programFolder_, kFileName)), bytes);
}

} // namespace kavlento::archive
