#include "zip/ZipWriter.h"
#include "fs/Descriptor_posix.h"
#include "support/ArchiveTestSupport.h"
#include "support/TempFolder.h"
#include "zip/ZipFormat.h"
#include "zip/ZipReader.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <fcntl.h>

using namespace kavlento;
using namespace kavlento::testing;
using namespace kavlento::zip;

namespace {

constexpr std::size_t kBuffer = 512;

struct Written {
    std::string name;
    QByteArray content;
};

// Writes stored, unencrypted entries through a small buffer into a file
// opened for appending only: a write anywhere but at the end would land at
// the end instead and spoil the archive. `abandoned` is begun after the first
// entry, written and taken back.
void writeArchive(const QString& path, const std::vector<Written>& entries,
                  const QByteArray& abandoned = QByteArray()) {
    const fs::UniqueFd file =
        fs::Descriptor::adopt(::open(QFile::encodeName(path).constData(),
                                     O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
    ASSERT_TRUE(file.valid());
    ZipWriter writer(file, path.toStdString(), kBuffer);
    const auto put = [&](const Written& w, bool keep) {
        TreeEntry tree;
        tree.path = w.name;
        tree.size = static_cast<std::uint64_t>(w.content.size());
        tree.mode = 0644;
        tree.modified = {1700000000, 0};
        writer.beginEntry(tree, kMethodStore, false);
        const auto* data = reinterpret_cast<const std::uint8_t*>(w.content.constData());
        writer.write(data, tree.size);
        if (keep) {
            writer.endEntry(tree.size, static_cast<std::uint32_t>(crc32(0, data, tree.size)));
        } else {
            writer.abandonEntry();
        }
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        put(entries[i], true);
        if (i == 0 && !abandoned.isEmpty()) {
            put({"gone", abandoned}, false);
        }
    }
    writer.finish();
}

// Reads the archive as a streaming reader would, local header after local
// header, and checks every data descriptor against the central directory.
void expectDescriptorsMatch(const QString& path) {
    const std::string file = path.toStdString();
    ZipReader reader(ZipReader::openArchive(file), file, [](std::string name) { return name; });
    const QByteArray bytes = readBytes(path);
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.constData());
    std::uint64_t offset = 0;
    for (const ZipEntry& entry : reader.entries()) {
        SCOPED_TRACE(entry.path);
        ASSERT_EQ(get32(at + offset), kLocalHeaderSignature);
        ASSERT_NE(get16(at + offset + 6) & kFlagDataDescriptor, 0);
        const std::uint64_t descriptor = entry.dataOffset + entry.compressedSize;
        EXPECT_EQ(get32(at + descriptor), kDataDescriptorSignature);
        EXPECT_EQ(get32(at + descriptor + 4), entry.crc);
        EXPECT_EQ(get32(at + descriptor + 8), entry.compressedSize);
        EXPECT_EQ(get32(at + descriptor + 12), entry.size);
        offset = descriptor + 16;
    }
    EXPECT_EQ(get32(at + offset), kCentralHeaderSignature);
}

void expectReadBack(const QString& path, const std::vector<Written>& entries) {
    expectDescriptorsMatch(path);
    const auto files = readWithLibzip(path, nullptr);
    ASSERT_EQ(files.size(), entries.size());
    for (const Written& w : entries) {
        EXPECT_EQ(files.at(w.name), w.content) << w.name;
    }
}

} // namespace

// Every place a local header can begin around the buffer's edge: a header cut
// by a flush must reach the disk whole and only once.
TEST(ZipWriter, AHeaderAtAnyOffsetAroundAFlushReadsBack) {
    TempFolder folder;
    const QString probe = folder.file("probe.zip");
    writeArchive(probe, {{"a", "x"}});
    ZipReader reader(ZipReader::openArchive(probe.toStdString()), probe.toStdString(),
                     [](std::string name) { return name; });
    const std::uint64_t headerSize = reader.entries()[0].dataOffset;

    for (std::uint64_t before = 0; before <= headerSize + 20; ++before) {
        SCOPED_TRACE(before);
        // The second header begins `before` bytes ahead of the second flush.
        const auto firstSize =
            static_cast<qsizetype>(2 * kBuffer - before - headerSize - 16 /* descriptor */);
        const std::vector<Written> entries{{"a", pseudoText(firstSize, 1)},
                                           {"b", pseudoText(300, 2)}};
        const QString path = folder.file(QStringLiteral("%1.zip").arg(before));
        writeArchive(path, entries);
        expectReadBack(path, entries);
    }
}

// An entry taken back after part of it reached the disk leaves no trace: the
// file is cut back to where it began, never overwritten.
TEST(ZipWriter, AnAbandonedEntryIsCutAwayWhetherOrNotItWasFlushed) {
    TempFolder folder;
    for (const qsizetype abandoned : {10, 2000}) {
        SCOPED_TRACE(abandoned);
        const std::vector<Written> entries{{"a", pseudoText(700, 3)}, {"b", pseudoText(900, 4)}};
        const QString path = folder.file(QStringLiteral("%1.zip").arg(abandoned));
        writeArchive(path, entries, incompressibleBytes(abandoned, 5));
        expectReadBack(path, entries);
        // Info-ZIP and 7-Zip walk the file themselves and test every entry.
        const ToolResult unzip = runTool("unzip", {"-t", path});
        EXPECT_EQ(unzip.exitCode, 0) << unzip.output.toStdString();
        const ToolResult sevenZip = runTool("7zz", {"t", path});
        EXPECT_EQ(sevenZip.exitCode, 0) << sevenZip.output.toStdString();
    }
}
