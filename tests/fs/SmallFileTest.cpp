#include "fs/SmallFile.h"
#include "support/ArchiveTestSupport.h"
#include "support/TempFolder.h"

#include <QFile>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace kavlento;
using namespace kavlento::testing;

// The program's own files may share their data with a file outside the
// folder (a hard link made by hand or by someone else): what the program
// writes replaces the name, and never goes into the shared file.
TEST(SmallFile, WhatIsWrittenNeverGoesIntoAFileAnotherNameShares) {
    const TempFolder work;
    const QString outside = work.file("baskasinin.txt");
    const QString own = work.file("dosya");
    const QString temp = work.file("dosya.tmp");
    const std::vector<std::function<void()>> writes{
        [&] { fs::writeEmptyFile(temp, own); },
        [&] { fs::appendLine(own, temp, "\"a\",\"b\",\"c\"\r\n"); },
        [&] { fs::replaceFile(temp, own, "yeni"); },
    };
    for (std::size_t i = 0; i < writes.size(); ++i) {
        SCOPED_TRACE(i);
        writeBytes(outside, "dokunulmaz");
        QFile::remove(own);
        ASSERT_EQ(
            ::link(QFile::encodeName(outside).constData(), QFile::encodeName(own).constData()), 0);
        writes[i]();
        EXPECT_EQ(readBytes(outside), "dokunulmaz");
        EXPECT_FALSE(QFile::exists(temp));
    }
    EXPECT_EQ(readBytes(own), "yeni");
    // An appended line keeps what the file held, on a line of its own.
    writeBytes(outside, "\"x\",\"y\",\"z\"");
    QFile::remove(own);
    ::link(QFile::encodeName(outside).constData(), QFile::encodeName(own).constData());
    fs::appendLine(own, temp, "\"a\",\"b\",\"c\"\r\n");
    EXPECT_EQ(readBytes(own), "\"x\",\"y\",\"z\"\r\n\"a\",\"b\",\"c\"\r\n");
}
