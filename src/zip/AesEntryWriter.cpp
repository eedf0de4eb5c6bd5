#include "zip/AesEntryWriter.h"

#include "zip/ZipFormat.h"

#include <zlib.h>

namespace kavlento::zip {

AesEntryWriter::AesEntryWriter(ZipWriter& writer, const TreeEntry& entry, bool deflated,
                               const AesSalt& salt, const AesKeys& keys)
    : writer_(writer), stream_(keys) {
    writer_.beginEntry(entry, deflated ? kMethodDeflate : kMethodStore, true);
    writer_.write(salt.bytes.data(), salt.size());
    writer_.write(keys.verifier.data(), keys.verifier.size());
}

void AesEntryWriter::append(DeflatedPiece& piece) {
    crc_ = static_cast<std::uint32_t>(
        crc32_combine(crc_, piece.crc, static_cast<z_off_t>(piece.inputSize)));
    write(piece.data.data(), piece.data.size());
}

void AesEntryWriter::append(std::vector<std::uint8_t>& stored) {
    crc_ = static_cast<std::uint32_t>(crc32(crc_, stored.data(), static_cast<uInt>(stored.size())));
    write(stored.data(), stored.size());
}

void AesEntryWriter::write(std::uint8_t* data, std::size_t size) {
    stream_.encrypt(data, size);
    writer_.write(data, size);
}

void AesEntryWriter::finish(std::uint64_t uncompressedSize) {
    const auto code = stream_.authCode();
    writer_.write(code.data(), code.size());
    writer_.endEntry(uncompressedSize, crc_);
}

void AesEntryWriter::abandon() {
    writer_.abandonEntry();
}

} // namespace kavlento::zip
