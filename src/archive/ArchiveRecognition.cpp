#include "archive/ArchiveRecognition.h"

#include "base/Failure.h"
#include "zip/WinZipAes.h"
#include "zip/ZipReader.h"

#include <algorithm>
#include <cstring>

namespace kavlento::archive {

using namespace zip;

bool isKavlentoArchive(const std::string& path, const std::string& password) {
    try {
        ZipReader reader(ZipReader::openArchive(path), path, [](std::string name) { return name; });
        const std::vector<ZipEntry>& entries = reader.entries();
        if (std::any_of(entries.begin(), entries.end(), [](const ZipEntry& e) {
                return !e.isFolder() && e.encryption != ZipEntry::Encryption::Aes256;
            })) {
            return false;
        }
        const auto file = std::find_if(entries.begin(), entries.end(),
                                       [](const ZipEntry& e) { return !e.isFolder(); });
        if (file == entries.end()) {
            return true; // an empty folder's archive: nothing to open
        }
        const AesSalt salt = reader.saltOf(*file);
        std::uint8_t stored[aes::kVerifierSize];
        reader.readStored(file->dataOffset + salt.size(), stored, sizeof stored);
        const AesKeys keys = deriveAesKeys(password, salt);
        return std::memcmp(stored, keys.verifier.data(), sizeof stored) == 0;
    } catch (const Failure&) {
        return false; // not an archive that can be read: not one of ours
    }
}

} // namespace kavlento::archive
