// The archive reader, on any bytes: listing the entries (names, kinds, sizes)
// and reading each one (methods, traditional and AES encryption, checks) either
// succeeds or ends in a Failure, never in a crash or an unbounded read.
#include "archive/ExtractionRules.h"
#include "base/Failure.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <set>
#include <string>
#include <unistd.h>

using namespace kavlento;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = "/tmp/kavlento-fuzz-" + std::to_string(::getpid()) + ".zip";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    try {
        const auto checked = archive::openCheckedArchive(path);
        const zip::ZipReader& reader = *checked;
        const std::vector<zip::ZipEntry>& entries = reader.entries();
        std::set<std::string> links;
        for (const zip::ZipEntry& entry : entries) {
            if (entry.kind == EntryKind::Link) {
                links.emplace(entry.path);
            }
        }
        std::uint8_t buffer[4096];
        for (const zip::ZipEntry& entry : entries) {
            if (entry.kind == EntryKind::Folder) {
                continue;
            }
            try {
                zip::EntryReader content(reader, entry, "6150937284");
                std::string target;
                std::uint64_t total = 0;
                while (const std::size_t n = content.read(buffer, sizeof buffer)) {
                    total += n;
                    if (total > entry.size) {
                        __builtin_trap(); // more than the header declared
                    }
                    if (entry.kind == EntryKind::Link && target.size() < 4096) {
                        target.append(reinterpret_cast<const char*>(buffer), n);
                    }
                }
                if (entry.kind == EntryKind::Link) {
                    archive::isSafeLinkTarget(entry.path, target, links);
                }
            } catch (const Failure&) {
            }
        }
    } catch (const Failure&) {
    }
    return 0;
}
