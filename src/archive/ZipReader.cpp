#include "archive/ZipReader.h"

#include "app/Failure.h"
#include "archive/RestoreTransaction.h"
#include "archive/SystemFile.h"
#include "archive/ZipFormat.h"

#include <zip.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <sys/stat.h>

namespace kavlento::archive {

namespace {

constexpr std::size_t kRawBuffer = 256 * 1024;

QString archiveName(const std::string& path) {
    return fromSystemPath(path);
}

[[noreturn]] void damaged(const std::string& archive, const QString& detail) {
    throw Failure(FailureCode::InvalidArchive,
                  QStringLiteral("Yedek dosyası bozuk ya da eksik (%1): %2")
                      .arg(detail, archiveName(archive)));
}

[[noreturn]] void unsafe(const std::string& archive, const QString& detail) {
    throw Failure(FailureCode::UnsafeArchive,
                  QStringLiteral("Yedek dosyası program klasörünün dışına yazmaya çalışıyor "
                                 "(%1); hiçbir dosya değiştirilmedi: %2")
                      .arg(detail, archiveName(archive)));
}

[[noreturn]] void wrongPassword(const std::string& archive) {
    throw Failure(
        FailureCode::WrongPassword,
        QStringLiteral("Yedek dosyasının şifresi uyuşmuyor: %1").arg(archiveName(archive)));
}

[[noreturn]] void zipFailure(zip_error_t* error, const std::string& archive) {
    const int code = zip_error_code_zip(error);
    const int system = zip_error_code_system(error);
    switch (code) {
    case ZIP_ER_NOENT:
        throw Failure(FailureCode::FileNotFound,
                      QStringLiteral("Yedek dosyası bulunamadı: %1").arg(archiveName(archive)));
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
    case ZIP_ER_TELL:
        if (zip_error_system_type(error) == ZIP_ET_SYS && system != 0) {
            throwSystemError(system, QStringLiteral("Yedek dosyası okunamadı"), archive);
        }
        break;
    case ZIP_ER_MEMORY:
        throw Failure(FailureCode::OutOfMemory, QStringLiteral("Bellek yetersiz"));
    case ZIP_ER_WRONGPASSWD:
    case ZIP_ER_NOPASSWD:
        wrongPassword(archive);
    case ZIP_ER_COMPNOTSUPP:
    case ZIP_ER_ENCRNOTSUPP:
        damaged(archive, QStringLiteral("desteklenmeyen sıkıştırma ya da şifreleme"));
    default:
        break;
    }
    damaged(archive, QString::fromUtf8(zip_error_strerror(error)));
}

// The relative path an entry name stands for, or nothing for the archive's
// root ("./"). Unsafe names are refused.
std::string safePath(const std::string& archive, std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.empty()) {
        damaged(archive, QStringLiteral("adı olmayan girdi"));
    }
    if (name.front() == '/' || (name.size() >= 2 && name[1] == ':')) {
        unsafe(archive, QStringLiteral("mutlak yol: %1").arg(QString::fromUtf8(name.c_str())));
    }
    std::string path;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = std::min(name.find('/', start), name.size());
        const std::string part = name.substr(start, end - start);
        if (part == "..") {
            unsafe(archive,
                   QStringLiteral("'..' içeren yol: %1").arg(QString::fromUtf8(name.c_str())));
        }
        if (!part.empty() && part != ".") {
            path += path.empty() ? part : "/" + part;
        }
        start = end + 1;
    }
    const std::string first = path.substr(0, path.find('/'));
    if (first == RestoreTransaction::kFolderName) {
        unsafe(archive, QStringLiteral("Kavlento'nun çalışma klasörü"));
    }
    return path;
}

// The exact time from an extended-timestamp or NTFS field when the entry has
// one; else the header's two-second local time.
std::time_t modificationTime(zip_t* zip, zip_uint64_t index, const zip_stat_t& st) {
    zip_uint16_t length = 0;
    const zip_uint8_t* data = zip_file_extra_field_get_by_id(zip, index, zip::kExtraTimestamp, 0,
                                                             &length, ZIP_FL_CENTRAL);
    if (data != nullptr && length >= 5 && (data[0] & 1) != 0) {
        return static_cast<std::time_t>(static_cast<std::int32_t>(zip::get32(data + 1)));
    }
    data = zip_file_extra_field_get_by_id(zip, index, zip::kExtraNtfs, 0, &length, ZIP_FL_CENTRAL);
    for (zip_uint16_t at = 4; data != nullptr && at + 4 <= length;) {
        const std::uint16_t tag = zip::get16(data + at);
        const std::uint16_t size = zip::get16(data + at + 2);
        if (tag == 1 && size >= 8 && at + 4 + 8 <= length) {
            const std::uint64_t ticks =
                zip::get32(data + at + 4) |
                (static_cast<std::uint64_t>(zip::get32(data + at + 8)) << 32);
            constexpr std::uint64_t kTicksPerSecond = 10000000;
            constexpr std::int64_t kWindowsEpochOffset = 11644473600;
            return static_cast<std::time_t>(static_cast<std::int64_t>(ticks / kTicksPerSecond) -
                                            kWindowsEpochOffset);
        }
        at = static_cast<zip_uint16_t>(at + 4 + size);
    }
    return (st.valid & ZIP_STAT_MTIME) != 0 ? st.mtime : 0;
}

void classify(zip_t* zip, zip_uint64_t index, bool folderName, ArchiveEntry& entry) {
    zip_uint8_t system = 0;
    zip_uint32_t attributes = 0;
    zip_file_get_external_attributes(zip, index, 0, &system, &attributes);
    const std::uint32_t mode = attributes >> 16;
    if (system == ZIP_OPSYS_UNIX && mode != 0) {
        if (S_ISLNK(mode)) {
            entry.kind = ArchiveEntry::Kind::Link;
        } else if (S_ISDIR(mode) || folderName) {
            entry.kind = ArchiveEntry::Kind::Folder;
        }
        entry.permissions = mode & 0777;
    } else if (folderName || (attributes & zip::kDosDirectoryAttribute) != 0) {
        entry.kind = ArchiveEntry::Kind::Folder;
    }
    if (entry.kind == ArchiveEntry::Kind::Folder && (system != ZIP_OPSYS_UNIX || mode == 0)) {
        entry.permissions = 0755;
    }
}

} // namespace

// --- ZipReader -------------------------------------------------------------

ZipReader::ZipReader(const std::string& path) : path_(path) {
    int code = 0;
    zip_ = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (zip_ == nullptr) {
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        zipFailure(&error, path);
    }
}

ZipReader::~ZipReader() {
    if (zip_ != nullptr) {
        zip_discard(zip_);
    }
}

std::vector<ArchiveEntry> ZipReader::entries() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const zip_int64_t count = zip_get_num_entries(zip_, 0);
    std::vector<ArchiveEntry> entries;
    entries.reserve(static_cast<std::size_t>(std::max<zip_int64_t>(count, 0)));
    std::map<std::string, ArchiveEntry::Kind> kinds;
    for (zip_int64_t i = 0; i < count; ++i) {
        const auto index = static_cast<zip_uint64_t>(i);
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(zip_, index, 0, &st) != 0) {
            zipFailure(zip_get_error(zip_), path_);
        }
        const std::string name = st.name != nullptr ? st.name : "";
        ArchiveEntry entry;
        entry.index = index;
        entry.path = safePath(path_, name);
        if (entry.path.empty()) {
            continue;
        }
        classify(zip_, index, name.back() == '/' || name.back() == '\\', entry);
        entry.modified = modificationTime(zip_, index, st);
        entry.size = st.size;
        entry.compressedSize = st.comp_size;
        entry.method = st.comp_method;
        entry.encryption = st.encryption_method;
        entry.crc = st.crc;
        if (!kinds.emplace(entry.path, entry.kind).second) {
            damaged(path_, QStringLiteral("aynı adla iki girdi: %1")
                               .arg(QString::fromUtf8(entry.path.c_str())));
        }
        entries.push_back(entry);
    }
    for (const ArchiveEntry& entry : entries) {
        for (std::size_t slash = entry.path.find('/'); slash != std::string::npos;
             slash = entry.path.find('/', slash + 1)) {
            const auto parent = kinds.find(entry.path.substr(0, slash));
            if (parent != kinds.end() && parent->second != ArchiveEntry::Kind::Folder) {
                unsafe(path_, QStringLiteral("bir dosyanın ya da bağlantının altında girdi: %1")
                                  .arg(QString::fromUtf8(entry.path.c_str())));
            }
        }
    }
    return entries;
}

ZipReader::OpenEntry::OpenEntry(const ZipReader& archive, const ArchiveEntry& entry, bool raw,
                                const std::string& password)
    : archive_(archive) {
    const std::lock_guard<std::mutex> lock(archive.mutex_);
    file_ = zip_fopen_index_encrypted(archive.zip_, entry.index, raw ? ZIP_FL_ENCRYPTED : 0,
                                      password.empty() ? nullptr : password.c_str());
    if (file_ == nullptr) {
        zipFailure(zip_get_error(archive.zip_), archive.path_);
    }
}

ZipReader::OpenEntry::~OpenEntry() {
    const std::lock_guard<std::mutex> lock(archive_.mutex_);
    zip_fclose(file_);
}

std::size_t ZipReader::OpenEntry::read(std::uint8_t* buffer, std::size_t capacity) {
    const std::lock_guard<std::mutex> lock(archive_.mutex_);
    const zip_int64_t n = zip_fread(file_, buffer, capacity);
    if (n < 0) {
        zipFailure(zip_file_get_error(file_), archive_.path_);
    }
    return static_cast<std::size_t>(n);
}

// --- Entry sources -----------------------------------------------------------

class EntryReader::Source {
public:
    virtual ~Source() = default;
    // Plain bytes; 0 once the entry has ended and passed its checks.
    virtual std::size_t read(std::uint8_t* buffer, std::size_t capacity) = 0;
};

// Traditional encryption, no encryption, and every compression libzip knows.
class EntryReader::LibzipSource final : public EntryReader::Source {
public:
    LibzipSource(const ZipReader& archive, const ArchiveEntry& entry, const std::string& password)
        : file_(archive, entry, false, password) {}

    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override {
        return file_.read(buffer, capacity);
    }

private:
    ZipReader::OpenEntry file_;
};

// WinZip AES, decrypted in bulk: libzip hands over the raw stored bytes.
class EntryReader::AesSource final : public EntryReader::Source {
public:
    AesSource(const ZipReader& archive, const ArchiveEntry& entry, const std::string& password)
        : archive_(archive), deflated_(entry.method == ZIP_CM_DEFLATE),
          file_(archive, entry, true, std::string()) {
        AesSalt salt;
        salt.strength = entry.encryption == ZIP_EM_AES_128   ? AesStrength::Aes128
                        : entry.encryption == ZIP_EM_AES_192 ? AesStrength::Aes192
                                                             : AesStrength::Aes256;
        if (entry.compressedSize < aesOverhead(salt.strength)) {
            damaged(archive.path(), QStringLiteral("şifreli veri eksik"));
        }
        remaining_ = entry.compressedSize - aesOverhead(salt.strength);
        readRaw(salt.bytes.data(), salt.size());
        std::uint8_t verifier[aes::kVerifierSize];
        readRaw(verifier, sizeof verifier);
        const AesKeys keys = deriveAesKeys(password, salt);
        if (std::memcmp(verifier, keys.verifier.data(), sizeof verifier) != 0) {
            wrongPassword(archive.path());
        }
        aes_ = std::make_unique<AesStream>(keys);
        input_.resize(kRawBuffer);
        if (deflated_ && inflateInit2(&z_, -MAX_WBITS) != Z_OK) {
            damaged(archive.path(), QStringLiteral("zlib"));
        }
    }

    ~AesSource() override {
        if (deflated_) {
            inflateEnd(&z_);
        }
    }

    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override {
        if (ended_) {
            return 0;
        }
        return deflated_ ? inflateInto(buffer, capacity) : copyInto(buffer, capacity);
    }

private:
    void readRaw(std::uint8_t* buffer, std::size_t size) {
        while (size > 0) {
            const std::size_t n = file_.read(buffer, size);
            if (n == 0) {
                damaged(archive_.path(), QStringLiteral("beklenmedik son"));
            }
            buffer += n;
            size -= n;
        }
    }

    // Decrypts the next stored bytes into `buffer`.
    std::size_t nextPlain(std::uint8_t* buffer, std::size_t capacity) {
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, remaining_));
        readRaw(buffer, size);
        aes_->decrypt(buffer, size);
        remaining_ -= size;
        return size;
    }

    void finish() {
        std::uint8_t stored[aes::kAuthCodeSize];
        readRaw(stored, sizeof stored);
        const auto computed = aes_->authCode();
        if (std::memcmp(stored, computed.data(), sizeof stored) != 0) {
            damaged(archive_.path(), QStringLiteral("doğrulama kodu uyuşmuyor"));
        }
        ended_ = true;
    }

    std::size_t copyInto(std::uint8_t* buffer, std::size_t capacity) {
        const std::size_t n = nextPlain(buffer, capacity);
        if (remaining_ == 0) {
            finish();
        }
        return n;
    }

    std::size_t inflateInto(std::uint8_t* buffer, std::size_t capacity) {
        z_.next_out = buffer;
        z_.avail_out = static_cast<uInt>(std::min<std::size_t>(capacity, 1u << 30));
        while (z_.avail_out > 0) {
            if (z_.avail_in == 0 && remaining_ > 0) {
                z_.avail_in = static_cast<uInt>(nextPlain(input_.data(), input_.size()));
                z_.next_in = input_.data();
            }
            const uInt before = z_.avail_out;
            const int result = inflate(&z_, Z_NO_FLUSH);
            if (result == Z_STREAM_END) {
                if (z_.avail_in != 0 || remaining_ != 0) {
                    damaged(archive_.path(), QStringLiteral("fazladan veri"));
                }
                finish();
                break;
            }
            if (result != Z_OK && !(result == Z_BUF_ERROR && z_.avail_out != before)) {
                damaged(archive_.path(), QStringLiteral("sıkıştırılmış veri bozuk"));
            }
            if (z_.avail_in == 0 && remaining_ == 0 && z_.avail_out == before) {
                damaged(archive_.path(), QStringLiteral("sıkıştırılmış veri eksik"));
            }
        }
        return static_cast<std::size_t>(z_.next_out - buffer);
    }

    const ZipReader& archive_;
    bool deflated_;
    ZipReader::OpenEntry file_;
    std::unique_ptr<AesStream> aes_;
    std::uint64_t remaining_ = 0;
    std::vector<std::uint8_t> input_;
    z_stream z_{};
    bool ended_ = false;
};

// --- EntryReader -------------------------------------------------------------

EntryReader::EntryReader(const ZipReader& archive, const ArchiveEntry& entry,
                         const std::string& password)
    : entry_(entry) {
    const bool aes = entry.encryption == ZIP_EM_AES_128 || entry.encryption == ZIP_EM_AES_192 ||
                     entry.encryption == ZIP_EM_AES_256;
    // Refused here, before libzip is asked: it leaks when it refuses them itself.
    const bool knownEncryption =
        aes || entry.encryption == ZIP_EM_NONE || entry.encryption == ZIP_EM_TRAD_PKWARE;
    const bool knownMethod = aes ? entry.method == ZIP_CM_DEFLATE || entry.method == ZIP_CM_STORE
                                 : zip_compression_method_supported(entry.method, 0) != 0;
    if (!knownEncryption || !knownMethod) {
        damaged(archive.path(), QStringLiteral("desteklenmeyen sıkıştırma ya da şifreleme"));
    }
    if (aes) {
        source_ = std::make_unique<AesSource>(archive, entry, password);
    } else {
        source_ = std::make_unique<LibzipSource>(archive, entry, password);
    }
    archivePath_ = archive.path();
}

EntryReader::~EntryReader() = default;

std::size_t EntryReader::read(std::uint8_t* buffer, std::size_t capacity) {
    if (finished_) {
        return 0;
    }
    // Never more than the declared size, so a lying header cannot fill the disk.
    const std::uint64_t room = entry_.size - produced_;
    const std::size_t asked = static_cast<std::size_t>(std::min<std::uint64_t>(capacity, room + 1));
    const std::size_t n = source_->read(buffer, asked);
    produced_ += n;
    if (produced_ > entry_.size) {
        damaged(archivePath_, QStringLiteral("girdi bildirilen boyuttan büyük"));
    }
    crc_ = static_cast<std::uint32_t>(crc32(crc_, buffer, static_cast<uInt>(n)));
    if (n == 0) {
        finished_ = true;
        if (produced_ != entry_.size) {
            damaged(archivePath_, QStringLiteral("girdi bildirilen boyuttan küçük"));
        }
        // AE-2 stores no CRC (0); every other entry is checked here too.
        if (entry_.crc != 0 && crc_ != entry_.crc) {
            damaged(archivePath_, QStringLiteral("CRC uyuşmuyor"));
        }
    }
    return n;
}

// --- Links -------------------------------------------------------------------

bool isSafeLinkTarget(const std::string& linkPath, const std::string& target,
                      const std::set<std::string>& linkPaths) {
    if (target.empty() || target.front() == '/' || target.find('\0') != std::string::npos ||
        (target.size() >= 2 && target[1] == ':') || target.find('\\') != std::string::npos) {
        return false;
    }
    std::vector<std::string> stack;
    for (std::size_t start = 0, end; start < linkPath.size(); start = end + 1) {
        end = std::min(linkPath.find('/', start), linkPath.size());
        stack.push_back(linkPath.substr(start, end - start));
    }
    stack.pop_back(); // the link's own name
    std::size_t start = 0;
    while (start <= target.size()) {
        const std::size_t end = std::min(target.find('/', start), target.size());
        const std::string part = target.substr(start, end - start);
        const bool lastPart = end == target.size();
        start = end + 1;
        if (part.empty() || part == ".") {
            continue;
        }
        if (part == "..") {
            if (stack.empty()) {
                return false;
            }
            stack.pop_back();
            continue;
        }
        stack.push_back(part);
        if (!lastPart) {
            std::string prefix;
            for (const std::string& s : stack) {
                prefix += prefix.empty() ? s : "/" + s;
            }
            if (linkPaths.count(prefix) != 0) {
                return false;
            }
        }
    }
    return true;
}

} // namespace kavlento::archive
