#include "archive/ExtractionRules.h"

#include "archive/OwnFiles.h"
#include "base/Failure.h"
#include "fs/File.h"
#include "fs/SystemNames.h"

#include <algorithm>

namespace kavlento::archive {

namespace {

// The longest target a link can hold here: a path, less its terminating zero.
constexpr std::uint64_t kLongestLink = 4095;

[[noreturn]] void unsafe(const std::string& archive, const QString& detail) {
    throw Failure(FailureCode::UnsafeArchive,
                  QStringLiteral("Yedek dosyası program klasörünün dışına yazmaya çalışıyor "
                                 "(%1); hiçbir dosya değiştirilmedi: %2")
                      .arg(detail, fs::fromSystemPath(archive)));
}

// A name this system cannot hold would be written under another name, or
// not at all, after the restore had begun: refused before anything changes.
void requireNameHere(const std::string& archive, const std::string& name, std::string_view part) {
    if (const std::optional<QString> problem = fs::nameProblemHere(part)) {
        throw Failure(FailureCode::UnsafeArchive,
                      QStringLiteral("Yedekteki \"%1\" girdisi bu sistemde geri yüklenemez: %2; "
                                     "hiçbir dosya değiştirilmedi: %3")
                          .arg(fs::fromSystemPath(name), *problem, fs::fromSystemPath(archive)));
    }
}

std::string safePath(const std::string& archive, const std::string& name) {
    if (name.empty()) {
        zip::throwDamagedArchive(archive, QStringLiteral("adı olmayan girdi"));
    }
    if (name.find('\0') != std::string::npos) {
        unsafe(archive, QStringLiteral("adında boş karakter olan girdi"));
    }
    // A name that is legal here is restored under that very name: "1:1 not.txt"
    // or "C:" are names on this system, not drives.
    if (name.front() == '/') {
        unsafe(archive, QStringLiteral("mutlak yol: %1").arg(fs::fromSystemPath(name)));
    }
    std::string path;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        const std::string part = name.substr(start, end - start);
        if (part == "..") {
            unsafe(archive, QStringLiteral("'..' içeren yol: %1").arg(fs::fromSystemPath(name)));
        }
        if (!part.empty() && part != ".") {
            requireNameHere(archive, name, part);
            path += path.empty() ? part : "/" + part;
        }
        start = end + 1;
    }
    if (isOwnTopEntry(path.substr(0, path.find('/')))) {
        unsafe(archive,
               QStringLiteral("Kavlento'nun kendi dosyası: %1").arg(fs::fromSystemPath(path)));
    }
    // Only the archive's root ("./") may stand for a folder; a file or link
    // named "." would be dropped, or take its folder's name.
    if (name.back() != '/' && fs::lastName(name) == ".") {
        zip::throwDamagedArchive(
            archive, QStringLiteral("adı '%1' olan girdi").arg(fs::fromSystemPath(name)));
    }
    return path;
}
} // namespace

void requireSafeTree(const std::string& path, const std::vector<zip::ZipEntry>& entries) {
    std::vector<const zip::ZipEntry*> sorted;
    sorted.reserve(entries.size());
    for (const zip::ZipEntry& entry : entries) {
        sorted.push_back(&entry);
    }
    const auto byPath = [](const zip::ZipEntry* a, const zip::ZipEntry* b) {
        return a->path < b->path;
    };
    std::sort(sorted.begin(), sorted.end(), byPath);
    for (std::size_t i = 1; i < sorted.size(); ++i) {
        if (sorted[i]->path == sorted[i - 1]->path) {
            zip::throwDamagedArchive(
                path,
                QStringLiteral("aynı adla iki girdi: %1").arg(fs::fromSystemPath(sorted[i]->path)));
        }
    }
    for (const zip::ZipEntry& entry : entries) {
        if (entry.isLink() && entry.size > kLongestLink) {
            zip::throwDamagedArchive(
                path, QStringLiteral("bağlantı çok uzun: %1").arg(fs::fromSystemPath(entry.path)));
        }
        for (std::size_t slash = entry.path.find('/'); slash != std::string_view::npos;
             slash = entry.path.find('/', slash + 1)) {
            zip::ZipEntry parent;
            parent.path = entry.path.substr(0, slash);
            const auto found = std::lower_bound(sorted.begin(), sorted.end(), &parent, byPath);
            if (found != sorted.end() && (*found)->path == parent.path && !(*found)->isFolder()) {
                unsafe(path, QStringLiteral("bir dosyanın ya da bağlantının altında girdi: %1")
                                 .arg(fs::fromSystemPath(entry.path)));
            }
        }
    }
}

zip::NamePolicy extractionNames(const std::string& archive) {
    return [archive](std::string name) { return safePath(archive, name); };
}

std::unique_ptr<zip::ZipReader> openCheckedArchive(const std::string& path) {
    return openCheckedArchive(zip::ZipReader::openArchive(path), path);
}

std::unique_ptr<zip::ZipReader> openCheckedArchive(fs::UniqueFd file, const std::string& path) {
    auto reader = std::make_unique<zip::ZipReader>(std::move(file), path, extractionNames(path));
    requireSafeTree(path, reader->entries());
    return reader;
}

std::string readLinkTarget(const zip::ZipEntry& entry, zip::EntryReader& content) {
    std::string link(static_cast<std::size_t>(entry.size) + 1, '\0');
    std::size_t length = 0;
    while (const std::size_t n = content.read(reinterpret_cast<std::uint8_t*>(link.data()) + length,
                                              link.size() - length)) {
        length += n;
    }
    link.resize(length);
    if (link.find('\0') != std::string::npos) {
        throw Failure(FailureCode::UnsafeArchive,
                      QStringLiteral("Yedekteki bir bağlantının hedefinde boş karakter var; "
                                     "hiçbir dosya değiştirilmedi: %1")
                          .arg(fs::fromSystemPath(entry.path)));
    }
    return link;
}

} // namespace kavlento::archive
