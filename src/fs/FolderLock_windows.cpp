#include "fs/FolderLock.h"

#include "fs/Descriptor_windows.h"

#include <QString>

#include <cerrno>
#include <cwchar>

namespace kavlento::fs {

namespace {

// The lock's name: the folder's identity (its volume's serial number and its
// file index), so that every path to it, a junction or another drive letter
// included, names the same lock. "Global\" reaches every login session.
std::wstring lockNameOf(const BY_HANDLE_FILE_INFORMATION& folder) {
    wchar_t name[64] = {};
    std::swprintf(name, std::size(name), L"Global\\kavlento-%08lx-%08lx%08lx",
                  folder.dwVolumeSerialNumber, folder.nFileIndexHigh, folder.nFileIndexLow);
    return name;
}

} // namespace

// A folder cannot take a byte-range lock, and a handle that shared nothing
// would keep every other program out of it. A named mutex stands for the
// lock instead: it is there for as long as a handle to it is open, and the
// system closes that handle however the process ends.
std::optional<FolderLock> FolderLock::tryLock(const std::string& folder) {
    const QString action = QStringLiteral("Program klasörü kilitlenemedi");
    const UniqueFd itself = Descriptor::adopt(
        ::CreateFileW(wide(folder).c_str(), FILE_READ_ATTRIBUTES,
                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!itself.valid() || !::GetFileInformationByHandle(Descriptor::of(itself), &info)) {
        throwWindowsError(::GetLastError(), action, folder);
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        throwSystemError(ENOTDIR, action, folder);
    }
    ::SetLastError(ERROR_SUCCESS); // what says whether the mutex was there
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, lockNameOf(info).c_str());
    if (mutex == nullptr) {
        // Another user's process made it, and its rights keep us from opening it.
        if (::GetLastError() == ERROR_ACCESS_DENIED) {
            return std::nullopt;
        }
        throwWindowsError(::GetLastError(), action, folder);
    }
    const bool taken = ::GetLastError() == ERROR_ALREADY_EXISTS;
    UniqueFd lock = Descriptor::adopt(mutex);
    if (taken) {
        return std::nullopt;
    }
    return FolderLock(std::move(lock));
}

} // namespace kavlento::fs
