// The parser of archive commands, on any text: it either accepts a command
// whose values the builders give back, or refuses it with a Failure.
#include "archive/ArchiveCommand.h"
#include "base/Failure.h"

#include <cstddef>
#include <cstdint>

using namespace kavlento;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QString command =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    try {
        const archive::CompressCommand parsed = archive::parseCompressCommand(command);
        const archive::CompressCommand again =
            archive::parseCompressCommand(archive::buildCompressCommand(
                parsed.sourceFolder, parsed.destinationFolder, parsed.archiveFileName));
        if (again.sourceFolder != parsed.sourceFolder ||
            again.archiveFileName != parsed.archiveFileName) {
            __builtin_trap();
        }
    } catch (const Failure&) {
    }
    try {
        archive::parseExtractCommand(command);
    } catch (const Failure&) {
    }
    return 0;
}
