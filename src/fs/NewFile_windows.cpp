#include "fs/NewFile.h"

#include "base/Failure.h"
#include "fs/Descriptor_windows.h"

#include <QString>

#include <winternl.h>

#include <cstring>
#include <vector>

namespace kavlento::fs {

namespace {

const QString& kCannotCreate = kCannotCreateNewFile;

// The byte its writer keeps locked for as long as it lives, far past any
// content, so that the lock stands in the way of no read or write.
constexpr std::uint64_t kLiveByte = std::uint64_t{1} << 62;

OVERLAPPED liveByte() {
    OVERLAPPED place{};
    place.Offset = static_cast<DWORD>(kLiveByte);
    place.OffsetHigh = static_cast<DWORD>(kLiveByte >> 32);
    return place;
}

} // namespace

// Nobody holds the lock its writer takes for as long as it lives. A process
// number would not do: after a restart another process has it.
bool isAbandoned(const OpenFolder& folder, const std::string& name) {
    const std::optional<UniqueFd> file = folder.openForReading(name);
    if (!file) {
        return false;
    }
    OVERLAPPED place = liveByte();
    // Granted only when no living writer holds it; it goes with the handle.
    return ::LockFileEx(Descriptor::of(*file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY,
                        0, 1, 0, &place);
}

namespace {

// Its number in the system's list; MinGW's headers give it only to programs
// for Windows 10 1709 and later, which the call itself tells apart.
constexpr auto kFileDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);

// Removes the open file, whatever it is named now: at once where the file
// system can (NTFS since Windows 10), else when its last handle closes.
bool removeByHandle(HANDLE file) {
    FILE_DISPOSITION_INFO_EX now{FILE_DISPOSITION_FLAG_DELETE |
                                 FILE_DISPOSITION_FLAG_POSIX_SEMANTICS};
    FILE_DISPOSITION_INFO atClose{TRUE};
    return ::SetFileInformationByHandle(file, kFileDispositionInfoEx, &now, sizeof now) ||
           ::SetFileInformationByHandle(file, FileDispositionInfo, &atClose, sizeof atClose);
}

void setAttributes(HANDLE file, DWORD attributes, const std::string& pathForErrors) {
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = attributes;
    if (!::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic)) {
        throwWindowsError(::GetLastError(), kCannotCreate, pathForErrors);
    }
}

} // namespace

// Windows has no unnamed files: every new file starts under a hidden
// temporary name, made in the folder held open, never through a link there.
// `mode` has no counterpart: the file gets its folder's access list.
NewFile::NewFile(const OpenFolder& folder, const std::string& fileName, std::uint32_t,
                 const std::string& writer)
    : folderPath_(folder.pathOf({})), folder_(folder.reopen(kCannotCreate)),
      pathForErrors_(folder.pathOf(fileName)), tempName_(hiddenTemporaryName(writer)) {
    HANDLE file = INVALID_HANDLE_VALUE;
    const LONG status =
        openIn(Descriptor::of(folder_), tempName_, GENERIC_READ | GENERIC_WRITE | DELETE,
               FILE_CREATE, FILE_ATTRIBUTE_HIDDEN, FILE_NON_DIRECTORY_FILE, file);
    if (status < 0) {
        throwSystemError(errnoOfStatus(status), kCannotCreate, joinPath(folderPath_, tempName_));
    }
    fd_ = Descriptor::adopt(file);
    // Held until the handle closes, by the end of the process at the latest.
    // A file system without locks refuses it: the file is written all the
    // same, and never looks abandoned either (isAbandoned's lock fails too).
    OVERLAPPED place = liveByte();
    ::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &place);
}

NewFile::~NewFile() {
    if (published_.empty()) {
        discard();
    }
}

bool NewFile::discard() {
    if (tempName_.empty() || !published_.empty()) {
        return true;
    }
    if (!removeByHandle(Descriptor::of(fd_))) {
        return false;
    }
    fd_ = UniqueFd(); // the name goes with the last handle where it did not at once
    tempName_.clear();
    return true;
}

// The name goes at once where the file system allows, else when this
// NewFile goes: the file is of no use to anyone meanwhile.
bool NewFile::unpublish() {
    if (published_.empty() || !lookUpIn(Descriptor::of(folder_), published_, pathForErrors_)
                                   .sameFile(lookUp(fd_, pathForErrors_))) {
        return false;
    }
    return removeByHandle(Descriptor::of(fd_));
}

void NewFile::flush() {
    syncFile(fd_, pathForErrors_);
    dropCachedPages(fd_);
}

bool NewFile::publishAs(const std::string& fileName) {
    const std::string path = joinPath(folderPath_, fileName);
    // Visible from here on, under its temporary name for a moment at most.
    setAttributes(Descriptor::of(fd_), FILE_ATTRIBUTE_NORMAL, path);
    if (!renameWithoutReplacing(fileName, path)) {
        return false;
    }
    published_ = fileName;
    syncFolder(folder_, folderPath_);
    return true;
}

// A rename by handle to a name in the folder held open keeps the file in that
// folder, wherever it has gone meanwhile; without ReplaceIfExists every file
// system refuses a taken name. The native call takes the name as given, where
// SetFileInformationByHandle makes it a full path on some systems (Wine).
bool NewFile::renameWithoutReplacing(const std::string& fileName, const std::string& path) const {
    const std::wstring name = wide(fileName);
    std::vector<unsigned char> buffer(sizeof(FILE_RENAME_INFO) + name.size() * sizeof(wchar_t));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;
    rename->RootDirectory = Descriptor::of(folder_);
    rename->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(rename->FileName, name.data(), rename->FileNameLength);
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ::NtSetInformationFile(
        Descriptor::of(fd_), &io, rename, static_cast<ULONG>(buffer.size()), FileRenameInformation);
    if (status >= 0) {
        return true;
    }
    const DWORD error = ::RtlNtStatusToDosError(status);
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
        return false;
    }
    throwWindowsError(error, kCannotCreate, path);
}

} // namespace kavlento::fs
