// The archive reader, on any bytes: opening it under the restore's rules
// (names, kinds, sizes, one path per entry) and reading each entry as a restore
// does (methods, traditional and AES encryption, checks) either succeeds or
// ends in a Failure, never in a crash or a read beyond the declared size.
#include "archive/EntryReading.h"
#include "archive/ExtractionRules.h"
#include "base/Failure.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <unistd.h>

namespace archive = kavlento::archive;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/kavlento-fuzz-" + std::to_string(::getpid()) + ".zip";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    try {
        const auto reader = archive::openCheckedArchive(path);
        archive::JobControl control;
        archive::forEachEntryContent(
            *reader, "6150937284", 1, control,
            [](const kavlento::zip::ZipEntry& entry, kavlento::zip::EntryReader& content) {
                std::uint8_t buffer[4096];
                std::uint64_t total = 0;
                while (const std::size_t n = content.read(buffer, sizeof buffer)) {
                    total += n;
                    if (total > entry.size) {
                        __builtin_trap(); // more than the header declared
                    }
                }
            });
    } catch (const kavlento::Failure&) {
    }
    return 0;
}
