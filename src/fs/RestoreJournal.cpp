#include "fs/RestoreJournal.h"

#include "base/Failure.h"
#include "fs/File.h"

namespace kavlento::fs::journal {

namespace {

const QString kCannotWrite = QStringLiteral("Geri yükleme günlüğü yazılamadı");
const QString kCannotRead = QStringLiteral("Geri yükleme günlüğü okunamadı");
constexpr std::string_view kMark = "KJ3";
constexpr std::string_view kOlderMark = "KJ2";
constexpr std::size_t kHeader = 10; // kind, existed, number, path length
constexpr std::size_t kPiece = 64 * 1024;

void putNumber(std::string& out, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    }
}

std::uint32_t getNumber(const std::string& bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    }
    return value;
}

std::string readWhole(const OpenFolder& folder, const char* name, const QString& action) {
    const std::string path = folder.pathOf(name);
    std::optional<UniqueFd> fd = folder.openForReading(name);
    if (!fd) {
        throwSystemError(ENOENT, action, path);
    }
    std::string bytes(static_cast<std::size_t>(lookUp(*fd, path).size), '\0');
    readExactly(*fd, 0, bytes.data(), bytes.size(), path);
    return bytes;
}

std::string temporaryName(const char* name) {
    return std::string(name) + ".yeni";
}

} // namespace

// Under its own name from the start, so that it marks the folder at once: a
// list cut short lists only areas that were not made yet.
void writeAreaList(const OpenFolder& working, const std::vector<std::string>& mountFolders) {
    std::string bytes;
    for (const std::string& folder : mountFolders) {
        putNumber(bytes, static_cast<std::uint32_t>(folder.size()));
        bytes += folder;
    }
    UniqueFd fd = working.createFile(kAreaList, 0600);
    writeAllAt(fd, 0, bytes.data(), bytes.size(), working.pathOf(kAreaList));
    syncFile(fd, working.pathOf(kAreaList));
    fd.close(working.pathOf(kAreaList));
    working.sync();
}

std::vector<std::string> readAreaList(const OpenFolder& working) {
    std::vector<std::string> folders;
    if (working.lookUp(kAreaList).kind == PathKind::Missing) {
        return folders;
    }
    const std::string bytes = readWhole(working, kAreaList, kCannotRead);
    for (std::size_t at = 0; at + 4 <= bytes.size();) {
        const std::uint32_t length = getNumber(bytes, at);
        at += 4;
        if (at + length > bytes.size()) {
            break;
        }
        folders.push_back(bytes.substr(at, length));
        at += length;
    }
    return folders;
}

Writer::Writer(const OpenFolder& working)
    : working_(working), fd_(working.createFile(temporaryName(kJournal), 0600)) {
    buffer_ += kMark;
}

void Writer::add(const Move& move) {
    buffer_.push_back(move.kind);
    buffer_.push_back(move.existed ? '1' : '0');
    putNumber(buffer_, move.kind == 'W' ? move.mode : move.area);
    putNumber(buffer_, static_cast<std::uint32_t>(move.path.size()));
    buffer_ += move.path;
    if (buffer_.size() >= kPiece) {
        flush();
    }
}

void Writer::flush() {
    const std::string temp = working_.pathOf(temporaryName(kJournal));
    writeAllAt(fd_, written_, buffer_.data(), buffer_.size(), temp);
    written_ += buffer_.size();
    buffer_.clear();
}

void Writer::commit() {
    flush();
    const std::string temp = temporaryName(kJournal);
    syncFile(fd_, working_.pathOf(temp));
    fd_.close(working_.pathOf(temp));
    working_.rename(temp, working_, kJournal, kCannotWrite);
    working_.sync();
}

bool exists(const OpenFolder& working) {
    return working.lookUp(kJournal).kind != PathKind::Missing;
}

std::vector<Move> read(const OpenFolder& working) {
    const std::string bytes = readWhole(working, kJournal, kCannotRead);
    // Written whole before it is named: a journal without the mark is not ours.
    if (bytes.compare(0, kMark.size(), kMark) != 0 &&
        bytes.compare(0, kOlderMark.size(), kOlderMark) != 0) {
        throw Failure(FailureCode::PathFileAccess,
                      QStringLiteral("Geri yükleme günlüğü tanınmıyor, yarım kalan geri yükleme "
                                     "geri alınamadı: %1")
                          .arg(fromSystemPath(working.pathOf(kJournal))));
    }
    std::vector<Move> moves;
    std::size_t at = kMark.size();
    while (at + kHeader <= bytes.size()) {
        Move move;
        move.kind = bytes[at];
        move.existed = bytes[at + 1] == '1';
        const std::uint32_t number = getNumber(bytes, at + 2);
        (move.kind == 'W' ? move.mode : move.area) = number;
        const std::uint32_t length = getNumber(bytes, at + 6);
        at += kHeader;
        if (at + length > bytes.size()) {
            break;
        }
        move.path = bytes.substr(at, length);
        at += length;
        moves.push_back(std::move(move));
    }
    return moves;
}

void remove(const OpenFolder& working) {
    working.removeFile(kJournal, QStringLiteral("Geri yükleme günlüğü silinemedi"));
}

bool isOurs(const OpenFolder& destination, const std::string& name) {
    const std::optional<OpenFolder> working = destination.folder(name);
    if (!working) {
        return false;
    }
    if (working->lookUp(kAreaList).kind == PathKind::File ||
        working->lookUp(kJournal).kind == PathKind::File) {
        return true;
    }
    for (const std::string& inner : working->names(kCannotRead)) {
        const std::optional<OpenFolder> folder = working->folder(inner);
        if (!folder || !folder->names(kCannotRead).empty()) {
            return false;
        }
    }
    return true;
}

} // namespace kavlento::fs::journal
