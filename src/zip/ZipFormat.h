#pragma once

#include "base/TreeEntry.h"

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace kavlento::zip {

constexpr std::uint32_t kLocalHeaderSignature = 0x04034b50;
constexpr std::uint32_t kCentralHeaderSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
constexpr std::uint32_t kZip64EndSignature = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr std::uint32_t kDataDescriptorSignature = 0x08074b50;

constexpr std::uint16_t kMethodStore = 0;
constexpr std::uint16_t kMethodDeflate = 8;
constexpr std::uint16_t kMethodAes = 99;

constexpr std::uint16_t kFlagEncrypted = 1u << 0;
constexpr std::uint16_t kFlagDataDescriptor = 1u << 3;
constexpr std::uint16_t kFlagStrongEncryption = 1u << 6;
constexpr std::uint16_t kFlagUtf8 = 1u << 11;

constexpr std::uint16_t kExtraZip64 = 0x0001;
constexpr std::uint16_t kExtraNtfs = 0x000a;
constexpr std::size_t kExtraNtfsSize = 32; // one attribute of three times
constexpr std::uint16_t kExtraTimestamp = 0x5455;
constexpr std::uint16_t kExtraAes = 0x9901;
// Kavlento's own field ("VK"), registered by nobody else: where and when the
// archive was written. Other archivers pass over fields they do not know.
constexpr std::uint16_t kExtraOrigin = 0x4b56;

constexpr std::uint8_t kHostUnix = 3;
constexpr std::uint16_t kVersionMadeBy = (kHostUnix << 8) | 63;
constexpr std::uint16_t kVersionDeflate = 20;
constexpr std::uint16_t kVersionZip64 = 45;
constexpr std::uint16_t kVersionAes = 51;

constexpr std::uint32_t kMax32 = 0xFFFFFFFFu;
constexpr std::uint16_t kMax16 = 0xFFFFu;
constexpr std::uint32_t kDosDirectoryAttribute = 0x10;
// A Unix archiver keeps the file's type and permission bits in the upper half
// of the external attributes, with the values Unix systems give them.
constexpr std::uint32_t kUnixTypeMask = 0170000;
constexpr std::uint32_t kUnixFile = 0100000;
constexpr std::uint32_t kUnixFolder = 0040000;
constexpr std::uint32_t kUnixLink = 0120000;

// Fixed parts of the records, in bytes.
constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndSize = 22;
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kZip64EndSize = 56;

// AE-1: the CRC of the plain data is stored as well, so readers check both the
// CRC and the HMAC.
constexpr std::uint16_t kAesVendorVersion = 1;
// AE-2 leaves the CRC out (0): the HMAC alone covers the data.
constexpr std::uint16_t kAesVendorVersionWithoutCrc = 2;
constexpr std::uint8_t kAesStrength256 = 3;

// Where and when an archive was written: the host, the folder that was packed
// (the system's bytes of its path), the moment, in seconds since 1970 UTC, and
// the machine (see fs::machineIdentity), which a clone or another machine with
// the same host name does not share. It ties an archive to the folder that
// wrote it, which a copy of the folder, elsewhere, does not share. The first
// central record carries it.
struct ArchiveOrigin {
    std::string host;
    std::string folder;
    std::int64_t moment = 0;
    std::string machine; // empty in archives written before it was kept

    // The same folder on the same machine, whenever. Where either side does
    // not say its machine, the host name stands for it, as it always did.
    bool sameFolder(const ArchiveOrigin& other) const {
        if (!machine.empty() && !other.machine.empty()) {
            return machine == other.machine && folder == other.folder;
        }
        return host == other.host && folder == other.folder;
    }
    bool operator==(const ArchiveOrigin& other) const {
        return sameFolder(other) && moment == other.moment && machine == other.machine;
    }
};
// The field's data: "1", the moment (8 bytes), then the host and the folder,
// each after its 2-byte length; "2" adds the machine, after its length, where
// there is one. Empty when they do not fit in a field.
std::string encodeOrigin(const ArchiveOrigin& origin);
// Nothing for a field that is not of this form.
std::optional<ArchiveOrigin> decodeOrigin(const unsigned char* data, std::size_t size);

struct DosTime {
    std::uint16_t time = 0;
    std::uint16_t date = 0;
};

// The local time of `seconds` as the two 16-bit fields of a header (two-second
// steps, years 1980 to 2107; earlier and later times are held at the limits).
DosTime toDosTime(std::time_t seconds);
// The seconds a header's local time stands for.
std::time_t fromDosTime(DosTime dos);

// A time as an archive keeps it: to 100 nanoseconds, held within the NTFS
// field's years (1601 to about 60000), so that what is read back is this.
Timestamp storedTime(Timestamp t);
// A time as the NTFS extra field keeps it: 100-nanosecond steps since
// 1601-01-01 UTC, of storedTime(t).
std::uint64_t toNtfsTime(Timestamp t);
Timestamp fromNtfsTime(std::uint64_t ticks);

// Whether a name is well-formed UTF-8 (no overlong forms, surrogates or code
// points past U+10FFFF), which the format's UTF-8 flag may then claim.
bool isUtf8(std::string_view name);

// Little-endian appenders.
void put16(std::string& out, std::uint16_t value);
void put32(std::string& out, std::uint32_t value);
void put64(std::string& out, std::uint64_t value);
std::uint16_t get16(const unsigned char* p);
std::uint32_t get32(const unsigned char* p);
std::uint64_t get64(const unsigned char* p);

} // namespace kavlento::zip
