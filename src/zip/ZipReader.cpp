#include "zip/ZipReader.h"

#include "base/Failure.h"
#include "fs/File.h"
#include "zip/WinZipAes.h"
#include "zip/ZipFormat.h"

#include <isa-l/igzip_lib.h>
#include <libdeflate.h>
#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace kavlento::zip {

using namespace fs;

namespace {

constexpr std::size_t kRawBuffer = 256 * 1024;
// Larger entries stream: a whole entry costs its size twice in memory per thread.
constexpr std::uint64_t kWholeEntry = 256u << 10;

[[noreturn]] void wrongPassword(const std::string& archive) {
    throw Failure(
        FailureCode::WrongPassword,
        QStringLiteral("Yedek dosyasının şifresi uyuşmuyor: %1").arg(fromSystemPath(archive)));
}

[[noreturn]] void zipFailure(zip_error_t* error, const std::string& archive) {
    const int code = zip_error_code_zip(error);
    const int system = zip_error_code_system(error);
    switch (code) {
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
        throwUnsupportedEntry(archive);
    default:
        break;
    }
    throwDamagedArchive(archive, QString::fromUtf8(zip_error_strerror(error)));
}

} // namespace

// --- ZipReader -------------------------------------------------------------

UniqueFd ZipReader::openArchive(const std::string& path) {
    // Not blocking: a pipe in the archive's place must not stop the open;
    // the directory reader then refuses anything but a file.
    std::optional<UniqueFd> fd = openForReading(path, AtALink::Follow);
    if (!fd) {
        throwArchiveNotFound(path);
    }
    return std::move(*fd);
}

ZipReader::ZipReader(UniqueFd file, const std::string& path, const NamePolicy& names)
    : path_(path), fd_(std::move(file)), directory_(fd_.get(), path, names) {}

ZipReader::~ZipReader() {
    if (zip_ != nullptr) {
        zip_discard(zip_);
    }
}

void ZipReader::readStored(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) const {
    try {
        readExactly(fd_.get(), offset, buffer, size, path_);
    } catch (const Failure& failure) {
        if (failure.code() != FailureCode::InputPastEnd) {
            throw;
        }
        // The directory placed these bytes inside the file: it was cut since.
        throwDamagedArchive(path_, QStringLiteral("beklenmedik son"));
    }
}

AesSalt ZipReader::saltOf(const ZipEntry& entry) const {
    AesSalt salt;
    salt.strength = entry.encryption == ZipEntry::Encryption::Aes128   ? AesStrength::Aes128
                    : entry.encryption == ZipEntry::Encryption::Aes192 ? AesStrength::Aes192
                                                                       : AesStrength::Aes256;
    readStored(entry.dataOffset, salt.bytes.data(), salt.size());
    return salt;
}

zip_t* ZipReader::libzip() const {
    if (zip_ != nullptr) {
        return zip_;
    }
    // The very file that was listed, with libzip's own consistency checks.
    const int copy = fs::duplicate(fd_, path_).release();
    int code = 0;
    zip_t* zip = zip_fdopen(copy, ZIP_CHECKCONS, &code);
    if (zip == nullptr) {
        ::close(copy);
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        zipFailure(&error, path_);
    }
    if (zip_get_num_entries(zip, 0) != static_cast<zip_int64_t>(directory_.recordCount())) {
        zip_discard(zip);
        throwDamagedArchive(path_, QStringLiteral("merkez dizini tutarsız"));
    }
    zip_ = zip;
    return zip_;
}

ZipReader::LibzipEntry::LibzipEntry(const ZipReader& archive, const ZipEntry& entry,
                                    const std::string& password)
    : archive_(archive) {
    const std::lock_guard<std::mutex> lock(archive.mutex_);
    zip_t* zip = archive.libzip();
    file_ = zip_fopen_index_encrypted(zip, entry.index, 0,
                                      password.empty() ? nullptr : password.c_str());
    if (file_ == nullptr) {
        zipFailure(zip_get_error(zip), archive.path_);
    }
}

ZipReader::LibzipEntry::~LibzipEntry() {
    const std::lock_guard<std::mutex> lock(archive_.mutex_);
    zip_fclose(file_);
}

std::size_t ZipReader::LibzipEntry::read(std::uint8_t* buffer, std::size_t capacity) {
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
    LibzipSource(const ZipReader& archive, const ZipEntry& entry, const std::string& password)
        : file_(archive, entry, password) {}

    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override {
        return file_.read(buffer, capacity);
    }

private:
    ZipReader::LibzipEntry file_;
};

// WinZip AES, decrypted in bulk, read straight from the archive.
class EntryReader::AesSource final : public EntryReader::Source {
public:
    AesSource(const ZipReader& archive, const ZipEntry& entry, const KeySource& derive)
        : archive_(archive), deflated_(entry.method == kMethodDeflate), offset_(entry.dataOffset),
          size_(entry.size) {
        const AesSalt salt = archive.saltOf(entry);
        if (entry.compressedSize < aesOverhead(salt.strength)) {
            throwDamagedArchive(archive.path(), QStringLiteral("şifreli veri eksik"));
        }
        remaining_ = entry.compressedSize - aesOverhead(salt.strength);
        offset_ += salt.size();
        std::uint8_t verifier[aes::kVerifierSize];
        readRaw(verifier, sizeof verifier);
        const AesKeys keys = derive(salt);
        if (std::memcmp(verifier, keys.verifier.data(), sizeof verifier) != 0) {
            wrongPassword(archive.path());
        }
        aes_ = std::make_unique<AesStream>(keys);
        whole_ = deflated_ && remaining_ <= kWholeEntry && size_ <= kWholeEntry;
        if (deflated_ && !whole_) {
            input_.resize(kRawBuffer);
            inflater_ = std::make_unique<inflate_state>();
            isal_inflate_init(inflater_.get());
            inflater_->crc_flag = ISAL_DEFLATE;
        }
    }

    std::size_t read(std::uint8_t* buffer, std::size_t capacity) override {
        if (whole_) {
            return fromWhole(buffer, capacity);
        }
        if (ended_) {
            return 0;
        }
        return deflated_ ? inflateInto(buffer, capacity) : copyInto(buffer, capacity);
    }

private:
    void readRaw(std::uint8_t* buffer, std::size_t size) {
        archive_.readStored(offset_, buffer, size);
        offset_ += size;
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
            throwDamagedArchive(archive_.path(), QStringLiteral("doğrulama kodu uyuşmuyor"));
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

    // A small entry is inflated in one call by libdeflate, a few times faster
    // than zlib's stream: the many small files of a data folder read quickly.
    std::size_t fromWhole(std::uint8_t* buffer, std::size_t capacity) {
        std::vector<std::uint8_t>& plain = input_;
        if (!ended_) {
            std::vector<std::uint8_t> stored(static_cast<std::size_t>(remaining_));
            nextPlain(stored.data(), stored.size());
            finish();
            // Kept only once whole: after a failure nothing is served.
            std::vector<std::uint8_t> inflated(static_cast<std::size_t>(size_));
            std::size_t used = 0;
            const libdeflate_result result =
                libdeflate_deflate_decompress_ex(&decompressor(), stored.data(), stored.size(),
                                                 inflated.data(), inflated.size(), &used, nullptr);
            if (result == LIBDEFLATE_INSUFFICIENT_SPACE) {
                throwDamagedArchive(archive_.path(),
                                    QStringLiteral("girdi bildirilen boyuttan büyük"));
            }
            if (result == LIBDEFLATE_SHORT_OUTPUT) {
                throwDamagedArchive(archive_.path(),
                                    QStringLiteral("girdi bildirilen boyuttan küçük"));
            }
            if (result != LIBDEFLATE_SUCCESS) {
                throwDamagedArchive(archive_.path(), QStringLiteral("sıkıştırılmış veri bozuk"));
            }
            if (used != stored.size()) {
                throwDamagedArchive(archive_.path(), QStringLiteral("fazladan veri"));
            }
            plain = std::move(inflated);
        }
        const std::size_t n = std::min<std::size_t>(capacity, plain.size() - served_);
        std::memcpy(buffer, plain.data() + served_, n);
        served_ += n;
        return n;
    }

    static libdeflate_decompressor& decompressor() {
        struct Free {
            void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
        };
        thread_local std::unique_ptr<libdeflate_decompressor, Free> own(
            libdeflate_alloc_decompressor());
        if (!own) {
            throw Failure(FailureCode::OutOfMemory, QStringLiteral("Bellek yetersiz"));
        }
        return *own;
    }

    // A large entry is inflated as it is read, by ISA-L: a few times faster
    // than zlib, for restores and for the check of every backup.
    std::size_t inflateInto(std::uint8_t* buffer, std::size_t capacity) {
        inflate_state& z = *inflater_;
        z.next_out = buffer;
        z.avail_out = static_cast<std::uint32_t>(std::min<std::size_t>(capacity, 1u << 30));
        while (z.avail_out > 0) {
            if (z.avail_in == 0 && remaining_ > 0) {
                z.avail_in = static_cast<std::uint32_t>(nextPlain(input_.data(), input_.size()));
                z.next_in = input_.data();
            }
            const std::uint32_t before = z.avail_out;
            const std::uint32_t offered = z.avail_in;
            if (isal_inflate(&z) != ISAL_DECOMP_OK) {
                throwDamagedArchive(archive_.path(), QStringLiteral("sıkıştırılmış veri bozuk"));
            }
            if (z.block_state == ISAL_BLOCK_FINISH) {
                // Bytes the inflater holds unread count as left over too.
                if (z.avail_in != 0 || remaining_ != 0 || z.read_in_length >= 8) {
                    throwDamagedArchive(archive_.path(), QStringLiteral("fazladan veri"));
                }
                finish();
                break;
            }
            if (z.avail_in == offered && z.avail_out == before && remaining_ == 0) {
                throwDamagedArchive(archive_.path(), QStringLiteral("sıkıştırılmış veri eksik"));
            }
        }
        return static_cast<std::size_t>(z.next_out - buffer);
    }

    const ZipReader& archive_;
    bool deflated_;
    std::uint64_t offset_;
    std::uint64_t size_;
    std::unique_ptr<AesStream> aes_;
    std::uint64_t remaining_ = 0;
    bool whole_ = false;                      // inflated in one call
    std::size_t served_ = 0;                  // of a whole entry
    std::unique_ptr<inflate_state> inflater_; // of a large entry, inflated as it is read
    std::vector<std::uint8_t> input_; // stored bytes to inflate, or a whole entry's plain ones
    bool ended_ = false;
};

// --- EntryReader -------------------------------------------------------------

EntryReader::EntryReader(const ZipReader& archive, const ZipEntry& entry,
                         const std::string& password)
    : entry_(entry), archivePath_(archive.path()) {
    requireKnownMethod(archive, entry);
    if (entry.aes()) {
        source_ = std::make_unique<AesSource>(archive, entry, [&password](const AesSalt& salt) {
            return deriveAesKeys(password, salt);
        });
    } else {
        source_ = std::make_unique<LibzipSource>(archive, entry, password);
    }
}

EntryReader::EntryReader(const ZipReader& archive, const ZipEntry& entry, const KeySource& keys)
    : entry_(entry), archivePath_(archive.path()) {
    requireKnownMethod(archive, entry);
    if (!entry.aes()) {
        throwDamagedArchive(archive.path(), QStringLiteral("şifrelenmemiş girdi"));
    }
    source_ = std::make_unique<AesSource>(archive, entry, keys);
}

void EntryReader::requireKnownMethod(const ZipReader& archive, const ZipEntry& entry) {
    // Refused here, before libzip is asked: it leaks when it refuses them itself.
    const bool knownMethod = entry.aes()
                                 ? entry.method == kMethodDeflate || entry.method == kMethodStore
                                 : zip_compression_method_supported(entry.method, 0) != 0;
    if (!knownMethod) {
        throwUnsupportedEntry(archive.path());
    }
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
        throwDamagedArchive(archivePath_, QStringLiteral("girdi bildirilen boyuttan büyük"));
    }
    crc_ = libdeflate_crc32(crc_, buffer, n);
    if (n == 0) {
        finished_ = true;
        if (produced_ != entry_.size) {
            throwDamagedArchive(archivePath_, QStringLiteral("girdi bildirilen boyuttan küçük"));
        }
        // AE-2 stores no CRC (0); every other entry is checked here too.
        if (entry_.crc != 0 && crc_ != entry_.crc) {
            throwDamagedArchive(archivePath_, QStringLiteral("CRC uyuşmuyor"));
        }
    }
    return n;
}

} // namespace kavlento::zip
