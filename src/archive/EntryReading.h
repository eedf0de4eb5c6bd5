#pragma once

#include "archive/JobControl.h"
#include "zip/ZipReader.h"

#include <functional>
#include <string>

namespace kavlento::archive {

// Opens the content of every file and link of an archive, largest first, on
// `threads` threads sharing the reader (0: all cores), and hands each to
// `use`, which reads it; reading to its end checks it whole. The keys of
// small AES entries are derived side by side, a group at a time. The first
// failure stops the rest and is thrown here.
// Only entries `wanted` accepts are opened, when it is given.
void forEachEntryContent(const zip::ZipReader& reader, const std::string& password,
                         unsigned threads, JobControl& control,
                         const std::function<void(const zip::ZipEntry&, zip::EntryReader&)>& use,
                         const std::function<bool(const zip::ZipEntry&)>& wanted = {});

// What reading every entry weighs in progress units (the sum saturates).
std::uint64_t contentWork(const zip::ZipReader& reader);

// Reads every entry of an open archive to its end, with its password check,
// HMAC, CRC and size, as a restore does, writing nothing; progress goes to
// `control`. Throws the first fault found.
void readEveryEntry(const zip::ZipReader& reader, const std::string& password, unsigned threads,
                    JobControl& control);

// Reads an archive as a restore would, writing nothing: its directory under
// the restore's rules, and every entry to its end. Throws the first fault found.
void testArchive(const std::string& path, const std::string& password, unsigned threads = 0);

} // namespace kavlento::archive
