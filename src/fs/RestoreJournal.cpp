#include "fs/RestoreJournal.h"

#include "base/Failure.h"
#include "fs/File.h"
#include "fs/Mounts.h"

namespace kavlento::fs::journal {

namespace {

const QString kCannotWrite = QStringLiteral("Geri yükleme günlüğü yazılamadı");
const QString kCannotRead = QStringLiteral("Geri yükleme günlüğü okunamadı");
const QString kJournalTitle = QStringLiteral("Geri yükleme günlüğü");
const QString kListTitle = QStringLiteral("Geri yükleme alan listesi");
const QString kDamaged = QStringLiteral("yarım kalmış ya da sonradan değişmiş");
const QString kNotWritten = QStringLiteral("Kavlento'nun yazdığı biçimde değil");
const QString kUnsound = QStringLiteral("bir geri yüklemenin yazmayacağı bir kaydı var");
const QString kNotTrusted =
    QStringLiteral("sahibi başka bir kullanıcı ya da başka kullanıcılar ona yazabiliyor");
// KJ4: the mark, then records (kind, existed '1' or '0', area, mode, the
// path's length and its bytes), then the number of records and the checksum
// of everything before it.
constexpr std::string_view kMark = "KJ4";
// KJ3 and KJ2 (which holds no removals): records of kind, existed, one number
// (a folder's mode for 'W', the area otherwise), the path's length and bytes;
// no count, no checksum.
constexpr std::string_view kMarkV3 = "KJ3";
constexpr std::string_view kMarkV2 = "KJ2";
// The area list: the mark, the number of folders, each folder's length and
// bytes, the checksum. An earlier one holds only the folders.
constexpr std::string_view kListMark = "KA1";
constexpr std::size_t kHeader = 14;
constexpr std::size_t kOlderHeader = 10;
constexpr std::size_t kPiece = 64 * 1024;
constexpr std::uint64_t kChecksumStart = 14695981039346656037u;
constexpr const char* kOld = "eski";
constexpr const char* kStaged = "yeni";

// 64-bit FNV-1a: it tells a file cut short or damaged. One made to deceive is
// kept out by who may write it (onlyOwnerMayChange()), as no checksum could.
std::uint64_t checksum(std::uint64_t sum, std::string_view bytes) {
    for (const char c : bytes) {
        sum = (sum ^ static_cast<unsigned char>(c)) * 1099511628211u;
    }
    return sum;
}

void putNumber(std::string& out, std::uint64_t value, int bytes = 4) {
    for (int i = 0; i < bytes; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    }
}

std::uint64_t getNumber(std::string_view bytes, std::size_t at, int size = 4) {
    std::uint64_t value = 0;
    for (int i = 0; i < size; ++i) {
        value |= std::uint64_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
    }
    return value;
}

// Relative, '/'-separated names, none empty, "." or "..": what a restore's
// paths are, and all that the moves may be given.
bool soundPath(std::string_view path) {
    for (std::size_t start = 0;;) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string_view name = path.substr(start, end - start);
        if (name.empty() || name == "." || name == ".." ||
            name.find('\0') != std::string_view::npos) {
            return false;
        }
        if (end == path.size()) {
            return true;
        }
        start = end + 1;
    }
}

bool knownKind(char kind) {
    switch (static_cast<Move::Kind>(kind)) {
    case Move::Kind::File:
    case Move::Kind::Folder:
    case Move::Kind::Extra:
    case Move::Kind::OpenedUp:
        return true;
    }
    return false;
}

std::string temporaryName(const char* name) {
    return std::string(name) + ".yeni";
}

[[noreturn]] void refuse(const QString& title, const QString& why, const std::string& path) {
    throw Failure(FailureCode::PathFileAccess,
                  QStringLiteral("%1 tanınmıyor (%2); yarım kalan geri yükleme geri alınmadı, "
                                 "hiçbir dosyaya dokunulmadı: %3")
                      .arg(title, why, fromSystemPath(path)));
}

// Kavlento cannot tell what such a record would have undone, but someone who
// looks at the old files can.
[[noreturn]] void damaged(const OpenFolder& working, const char* name, const QString& why) {
    throw Damaged(FailureCode::PathFileAccess,
                  QStringLiteral("Yarım kalan bir geri yüklemenin %1 bozuk (%2); geri yükleme "
                                 "geri alınamıyor: %3. Eski dosyalar şurada bekliyor: %4. "
                                 "Yöneticinizden ya da destek ekibinden onları elle yerlerine "
                                 "koyup çalışma klasörünü kaldırmasını isteyin.")
                      .arg(name == std::string_view(kJournal) ? QStringLiteral("günlüğü")
                                                              : QStringLiteral("alan listesi"),
                           why, fromSystemPath(working.pathOf(name)),
                           fromSystemPath(working.pathOf(kOld))));
}

std::string readWhole(const OpenFolder& folder, const char* name, const QString& title) {
    const std::string path = folder.pathOf(name);
    std::optional<UniqueFd> fd = folder.openForReading(name);
    if (!fd) {
        throwSystemError(ENOENT, kCannotRead, path);
    }
    const PathInfo info = lookUp(*fd, path);
    if (info.kind != PathKind::File || !onlyOwnerMayChange(info)) {
        refuse(title, kNotTrusted, path);
    }
    std::string bytes(static_cast<std::size_t>(info.size), '\0');
    readExactly(*fd, 0, bytes.data(), bytes.size(), path);
    return bytes;
}

// The records between `at` and `end`, every one whole and one a restore makes.
std::vector<Move> readMoves(std::string_view bytes, std::size_t at, std::size_t end, bool older,
                            std::size_t areas, const OpenFolder& working) {
    std::vector<Move> moves;
    const std::size_t header = older ? kOlderHeader : kHeader;
    while (at < end) {
        if (end - at < header) {
            damaged(working, kJournal, kDamaged);
        }
        const char kind = bytes[at];
        const char existed = bytes[at + 1];
        Move move;
        move.kind = static_cast<Move::Kind>(kind);
        move.existed = existed == '1';
        if (older) {
            (move.kind == Move::Kind::OpenedUp ? move.mode : move.area) =
                static_cast<std::uint32_t>(getNumber(bytes, at + 2));
        } else {
            move.area = static_cast<std::uint32_t>(getNumber(bytes, at + 2));
            move.mode = static_cast<std::uint32_t>(getNumber(bytes, at + 6));
        }
        const std::uint64_t length = getNumber(bytes, at + header - 4);
        at += header;
        if (length > end - at) {
            damaged(working, kJournal, kDamaged);
        }
        move.path = bytes.substr(at, static_cast<std::size_t>(length));
        at += static_cast<std::size_t>(length);
        if (!knownKind(kind) || (existed != '1' && existed != '0') || move.area >= areas ||
            move.mode > 07777 || !soundPath(move.path)) {
            damaged(working, kJournal, kUnsound);
        }
        moves.push_back(std::move(move));
    }
    return moves;
}

// An area list without a mark, of an earlier version: only folders' lengths
// and names, which must fill it exactly.
std::optional<std::vector<std::string>> earlierAreaList(std::string_view bytes) {
    std::vector<std::string> folders;
    for (std::size_t at = 0; at < bytes.size();) {
        if (bytes.size() - at < 4) {
            return std::nullopt;
        }
        const std::uint64_t length = getNumber(bytes, at);
        at += 4;
        if (length > bytes.size() - at) {
            return std::nullopt;
        }
        folders.emplace_back(bytes.substr(at, static_cast<std::size_t>(length)));
        at += static_cast<std::size_t>(length);
    }
    return folders;
}

} // namespace

// Under its own name from the start, so that it marks the folder at once; one
// cut short is then all the folder holds, which is still taken as ours.
void writeAreaList(const OpenFolder& working, const std::vector<std::string>& mountFolders) {
    std::string bytes(kListMark);
    putNumber(bytes, mountFolders.size());
    for (const std::string& folder : mountFolders) {
        if (!soundPath(folder)) {
            throw Failure(FailureCode::BadFileName,
                          QStringLiteral("%1: geri yüklemenin yapmayacağı bir klasör: %2")
                              .arg(kCannotWrite, fromSystemPath(folder)));
        }
        putNumber(bytes, folder.size());
        bytes += folder;
    }
    putNumber(bytes, checksum(kChecksumStart, bytes), 8);
    const std::string path = working.pathOf(kAreaList);
    UniqueFd fd = working.createFile(kAreaList, 0600);
    writeAllAt(fd, 0, bytes.data(), bytes.size(), path);
    working.syncFile(fd, kAreaList);
    fd.close(path);
    working.sync();
}

namespace {

std::vector<std::string> listedIn(const OpenFolder& working) {
    const std::string bytes = readWhole(working, kAreaList, kListTitle);
    std::optional<std::vector<std::string>> folders;
    if (bytes.compare(0, kListMark.size(), kListMark) != 0) {
        folders = earlierAreaList(bytes);
    } else if (bytes.size() >= kListMark.size() + 4 + 8 &&
               checksum(kChecksumStart, std::string_view(bytes).substr(0, bytes.size() - 8)) ==
                   getNumber(bytes, bytes.size() - 8, 8)) {
        const std::size_t count = static_cast<std::size_t>(getNumber(bytes, kListMark.size()));
        const std::string_view listed =
            std::string_view(bytes).substr(kListMark.size() + 4, bytes.size() - 15);
        folders = earlierAreaList(listed);
        if (folders && folders->size() != count) {
            folders.reset();
        }
    } else {
        damaged(working, kAreaList, kDamaged);
    }
    if (!folders) {
        damaged(working, kAreaList, kNotWritten);
    }
    for (const std::string& folder : *folders) {
        if (!soundPath(folder)) {
            damaged(working, kAreaList, kUnsound);
        }
    }
    return *folders;
}

} // namespace

std::vector<std::string> readAreaList(const OpenFolder& working) {
    if (working.lookUp(kAreaList).kind == PathKind::Missing) {
        return {};
    }
    try {
        return listedIn(working);
    } catch (const Damaged&) {
        // Cut off as it was written, before anything else was made: no other
        // working folder is there yet, and nothing is to be undone.
        if (working.names(kCannotRead) == std::vector<std::string>{kAreaList}) {
            return {};
        }
        throw;
    }
}

Writer::Writer(const OpenFolder& working)
    : working_(working), fd_(working.createFile(temporaryName(kJournal), 0600)), buffer_(kMark),
      checksum_(kChecksumStart) {}

void Writer::add(const Move& move) {
    if (!knownKind(static_cast<char>(move.kind)) || move.mode > 07777 || !soundPath(move.path)) {
        throw Failure(FailureCode::BadFileName,
                      QStringLiteral("%1: geri yüklemenin yapmayacağı bir kayıt: %2")
                          .arg(kCannotWrite, fromSystemPath(move.path)));
    }
    buffer_.push_back(static_cast<char>(move.kind));
    buffer_.push_back(move.existed ? '1' : '0');
    putNumber(buffer_, move.area);
    putNumber(buffer_, move.mode);
    putNumber(buffer_, move.path.size());
    buffer_ += move.path;
    ++count_;
    if (buffer_.size() >= kPiece) {
        flush();
    }
}

void Writer::flush() {
    const std::string temp = working_.pathOf(temporaryName(kJournal));
    checksum_ = checksum(checksum_, buffer_);
    writeAllAt(fd_, written_, buffer_.data(), buffer_.size(), temp);
    written_ += buffer_.size();
    buffer_.clear();
}

void Writer::commit() {
    putNumber(buffer_, count_, 8);
    putNumber(buffer_, checksum(checksum_, buffer_), 8);
    flush();
    const std::string temp = temporaryName(kJournal);
    working_.syncFile(fd_, temp);
    fd_.close(working_.pathOf(temp));
    working_.rename(temp, working_, kJournal, kCannotWrite);
    working_.sync();
}

bool exists(const OpenFolder& working) {
    return working.lookUp(kJournal).kind == PathKind::File;
}

std::vector<Move> read(const OpenFolder& working, std::size_t areas) {
    const std::string bytes = readWhole(working, kJournal, kJournalTitle);
    const std::string_view mark = std::string_view(bytes).substr(0, kMark.size());
    if (mark == kMarkV3 || mark == kMarkV2) {
        return readMoves(bytes, mark.size(), bytes.size(), true, areas, working);
    }
    if (mark != kMark) {
        damaged(working, kJournal, kNotWritten);
    }
    const std::size_t trailer = 16;
    if (bytes.size() < kMark.size() + trailer ||
        checksum(kChecksumStart, std::string_view(bytes).substr(0, bytes.size() - 8)) !=
            getNumber(bytes, bytes.size() - 8, 8)) {
        damaged(working, kJournal, kDamaged);
    }
    std::vector<Move> moves =
        readMoves(bytes, kMark.size(), bytes.size() - trailer, false, areas, working);
    if (moves.size() != getNumber(bytes, bytes.size() - trailer, 8)) {
        damaged(working, kJournal, kDamaged);
    }
    return moves;
}

void remove(const OpenFolder& working) {
    working.removeFile(kJournal, QStringLiteral("Geri yükleme günlüğü silinemedi"));
}

Standing standingOf(const OpenFolder& working) {
    if (!onlyOwnerMayChange(working.lookUp())) {
        return Standing::Untrusted;
    }
    bool untrusted = false;
    bool foreign = false;
    bool listed = false;
    bool journalled = false;
    const std::vector<std::string> names = working.names(kCannotRead);
    for (const std::string& name : names) {
        const PathInfo info = working.lookUp(name);
        const bool record =
            name == kAreaList || name == kJournal || name == temporaryName(kJournal);
        const bool area = name == kOld || name == kStaged;
        if (record && info.kind == PathKind::File) {
            untrusted |= !onlyOwnerMayChange(info);
            listed |= name == kAreaList;
            journalled |= name == kJournal;
        } else if (area && info.kind == PathKind::Folder) {
            untrusted |= !onlyOwnerMayChange(info);
        } else {
            // A folder cut off before its list holds only empty folders.
            const std::optional<OpenFolder> inner = working.folder(name);
            foreign |= !inner || !onlyOwnerMayChange(info) || !inner->names(kCannotRead).empty();
        }
    }
    if (untrusted) {
        return Standing::Untrusted;
    }
    if (foreign) {
        return Standing::Foreign;
    }
    // With a journal the restore must be undone, and a list it cannot read
    // says so; without one there is nothing to undo, and a list that cannot
    // be read is ours only where it was cut off, before anything else was made.
    if (listed && !journalled && names.size() > 1) {
        try {
            readAreaList(working);
        } catch (const Failure&) {
            return Standing::Foreign;
        }
    }
    return Standing::Ours;
}

bool isOurs(const OpenFolder& destination, const std::string& name) {
    const std::optional<OpenFolder> working = destination.folder(name);
    return working && standingOf(*working) == Standing::Ours;
}

} // namespace kavlento::fs::journal
