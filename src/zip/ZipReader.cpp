#include "zip/ZipReader.h"

#include "base/Failure.h"
#include "base/ThreadCache.h"
#include "fs/File.h"
#include "zip/StreamInflater.h"
#include "zip/WinZipAes.h"
#include "zip/ZipFormat.h"

#include <libdeflate.h>
#include <zip.h>

#include <algorithm>
#include <cstring>
#include <exception>

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
    switch (zip_error_code_zip(error)) {
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

// A libzip error, whose text libzip may allocate, freed when it goes.
struct LibzipError {
    LibzipError() { zip_error_init(&e); }
    ~LibzipError() { zip_error_fini(&e); }
    LibzipError(const LibzipError&) = delete;
    LibzipError& operator=(const LibzipError&) = delete;

    zip_error_t e;
};

} // namespace

// --- The archive as libzip reads it ------------------------------------------

// libzip reads the archive through fs, from the very file the directory was
// read from. A failure of fs is kept here instead of unwinding through libzip,
// and thrown once libzip has returned.
class ZipReader::LibzipInput {
public:
    LibzipInput(const ZipReader& archive, std::uint64_t size) : archive_(archive), size_(size) {}
    LibzipInput(const LibzipInput&) = delete;
    LibzipInput& operator=(const LibzipInput&) = delete;

    static zip_int64_t call(void* self, void* data, zip_uint64_t length, zip_source_cmd_t command) {
        return static_cast<LibzipInput*>(self)->serve(data, length, command);
    }

    void rethrowFailure() const {
        if (failure_) {
            std::rethrow_exception(failure_);
        }
    }

private:
    zip_int64_t serve(void* data, zip_uint64_t length, zip_source_cmd_t command) {
        switch (command) {
        case ZIP_SOURCE_OPEN:
            position_ = 0;
            return 0;
        case ZIP_SOURCE_READ:
            return read(static_cast<std::uint8_t*>(data), length);
        case ZIP_SOURCE_SEEK:
            return seek(data, length);
        case ZIP_SOURCE_TELL:
            return static_cast<zip_int64_t>(position_);
        case ZIP_SOURCE_STAT:
            return stat(data, length);
        case ZIP_SOURCE_ERROR:
            return zip_error_to_data(&error_.e, data, length);
        case ZIP_SOURCE_SUPPORTS:
            return zip_source_make_command_bitmap(
                ZIP_SOURCE_OPEN, ZIP_SOURCE_READ, ZIP_SOURCE_CLOSE, ZIP_SOURCE_STAT,
                ZIP_SOURCE_ERROR, ZIP_SOURCE_FREE, ZIP_SOURCE_SEEK, ZIP_SOURCE_TELL,
                ZIP_SOURCE_SUPPORTS, -1);
        case ZIP_SOURCE_CLOSE:
        case ZIP_SOURCE_FREE:
            return 0;
        default:
            zip_error_set(&error_.e, ZIP_ER_OPNOTSUPP, 0);
            return -1;
        }
    }

    zip_int64_t seek(void* data, zip_uint64_t length) {
        const zip_int64_t at =
            zip_source_seek_compute_offset(position_, size_, data, length, &error_.e);
        if (at < 0) {
            return -1;
        }
        position_ = static_cast<std::uint64_t>(at);
        return 0;
    }

    zip_int64_t stat(void* data, zip_uint64_t length) {
        auto* stat = ZIP_SOURCE_GET_ARGS(zip_stat_t, data, length, &error_.e);
        if (stat == nullptr) {
            return -1;
        }
        zip_stat_init(stat);
        stat->size = size_;
        stat->valid |= ZIP_STAT_SIZE;
        return sizeof(zip_stat_t);
    }

    zip_int64_t read(std::uint8_t* buffer, zip_uint64_t capacity) {
        const auto size = static_cast<std::size_t>(std::min<std::uint64_t>(
            {capacity, size_ - std::min(position_, size_), std::uint64_t{1} << 30}));
        try {
            archive_.readStored(position_, buffer, size);
        } catch (...) {
            failure_ = std::current_exception();
            zip_error_set(&error_.e, ZIP_ER_READ, 0);
            return -1;
        }
        position_ += size;
        return static_cast<zip_int64_t>(size);
    }

    const ZipReader& archive_; // owns this input
    std::uint64_t size_;
    std::uint64_t position_ = 0;
    LibzipError error_;
    std::exception_ptr failure_;
};

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
    : path_(path), fd_(std::move(file)), directory_(fd_, path, names) {}

ZipReader::~ZipReader() {
    if (zip_ != nullptr) {
        zip_discard(zip_);
    }
}

void ZipReader::readStored(std::uint64_t offset, std::uint8_t* buffer, std::size_t size) const {
    try {
        readExactly(fd_, offset, buffer, size, path_);
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
    input_ = std::make_unique<LibzipInput>(*this, lookUp(fd_, path_).size);
    LibzipError error;
    zip_source_t* source = zip_source_function_create(&LibzipInput::call, input_.get(), &error.e);
    zip_t* zip = source == nullptr
                     ? nullptr
                     : zip_open_from_source(source, ZIP_CHECKCONS | ZIP_RDONLY, &error.e);
    if (zip == nullptr) {
        zip_source_free(source); // an archive that opened owns its source
        throwLibzipFailure(&error.e);
    }
    if (zip_get_num_entries(zip, 0) != static_cast<zip_int64_t>(directory_.recordCount())) {
        zip_discard(zip);
        throwDamagedArchive(path_, QStringLiteral("merkez dizini tutarsız"));
    }
    zip_ = zip;
    return zip_;
}

void ZipReader::throwLibzipFailure(zip_error_t* error) const {
    if (input_) {
        input_->rethrowFailure();
    }
    zipFailure(error, path_);
}

ZipReader::LibzipEntry::LibzipEntry(const ZipReader& archive, const ZipEntry& entry,
                                    const std::string& password)
    : archive_(archive) {
    const std::lock_guard<std::mutex> lock(archive.mutex_);
    zip_t* zip = archive.libzip();
    file_ = zip_fopen_index_encrypted(zip, entry.index, 0,
                                      password.empty() ? nullptr : password.c_str());
    if (file_ == nullptr) {
        archive.throwLibzipFailure(zip_get_error(zip));
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
        archive_.throwLibzipFailure(zip_file_get_error(file_));
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
            inflater_ = std::make_unique<StreamInflater>();
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
        std::unique_ptr<libdeflate_decompressor, Free>& own = threadCache([] {
            return std::unique_ptr<libdeflate_decompressor, Free>(libdeflate_alloc_decompressor());
        });
        if (!own) {
            throw Failure(FailureCode::OutOfMemory, QStringLiteral("Bellek yetersiz"));
        }
        return *own;
    }

    // A large entry is inflated as it is read (see StreamInflater), for
    // restores and for the check of every backup.
    std::size_t inflateInto(std::uint8_t* buffer, std::size_t capacity) {
        std::size_t produced = 0;
        while (produced < capacity) {
            if (inflater_->wantsInput() && remaining_ > 0) {
                inflater_->offer(input_.data(), nextPlain(input_.data(), input_.size()));
            }
            const StreamInflater::Step step =
                inflater_->inflate(buffer + produced, capacity - produced);
            produced += step.produced;
            if (step.state == StreamInflater::State::Damaged) {
                throwDamagedArchive(archive_.path(), QStringLiteral("sıkıştırılmış veri bozuk"));
            }
            if (step.state == StreamInflater::State::Ended) {
                if (inflater_->leftOver() || remaining_ != 0) {
                    throwDamagedArchive(archive_.path(), QStringLiteral("fazladan veri"));
                }
                finish();
                break;
            }
            if (step.state == StreamInflater::State::Starved && remaining_ == 0) {
                throwDamagedArchive(archive_.path(), QStringLiteral("sıkıştırılmış veri eksik"));
            }
        }
        return produced;
    }

    const ZipReader& archive_;
    bool deflated_;
    std::uint64_t offset_;
    std::uint64_t size_;
    std::unique_ptr<AesStream> aes_;
    std::uint64_t remaining_ = 0;
    bool whole_ = false;                       // inflated in one call
    std::size_t served_ = 0;                   // of a whole entry
    std::unique_ptr<StreamInflater> inflater_; // of a large entry, inflated as it is read
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
        if (entry_.crcStored && crc_ != entry_.crc) {
            throwDamagedArchive(archivePath_, QStringLiteral("CRC uyuşmuyor"));
        }
    }
    return n;
}

} // namespace kavlento::zip
