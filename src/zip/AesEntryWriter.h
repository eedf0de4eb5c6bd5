#pragma once

#include "base/TreeEntry.h"
#include "zip/DeflatedPieces.h"
#include "zip/WinZipAes.h"
#include "zip/ZipWriter.h"

#include <cstdint>
#include <vector>

namespace kavlento::zip {

// One WinZip AES-256 entry onto a ZipWriter, front to back: its salt and
// password check when it begins, its data encrypted as it comes, with the CRC
// of what the data stands for, and its authentication code, sizes and CRC when
// it is finished. An entry given up is taken back from the archive whole.
class AesEntryWriter {
public:
    // Begins `entry`; its data are deflate pieces when `deflated`, else stored.
    AesEntryWriter(ZipWriter& writer, const TreeEntry& entry, bool deflated, const AesSalt& salt,
                   const AesKeys& keys);

    // A piece of the deflate stream (encrypted in place).
    void append(DeflatedPiece& piece);
    // Stored bytes (encrypted in place).
    void append(std::vector<std::uint8_t>& stored);
    void finish(std::uint64_t uncompressedSize);
    void abandon();

    std::uint32_t crc() const { return crc_; }

private:
    void write(std::uint8_t* data, std::size_t size);

    ZipWriter& writer_;
    AesStream stream_;
    std::uint32_t crc_ = 0;
};

} // namespace kavlento::zip
