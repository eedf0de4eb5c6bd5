#pragma once

#include "fs/File.h"

#include <windows.h>

#include <optional>
#include <string>

namespace kavlento::fs {

// The handle inside a UniqueFd, for fs's own files that make the system calls,
// and for main's own *_windows.cpp files. Elsewhere above fs a file is a
// UniqueFd.
struct Descriptor {
    static HANDLE of(const UniqueFd& file) { return file.fd_; }
    // Takes ownership of `handle` (INVALID_HANDLE_VALUE for none).
    static UniqueFd adopt(HANDLE handle) { return UniqueFd(handle); }
    static HANDLE release(UniqueFd& file) { return file.release(); }
};

// The errno value (ENOENT, EACCES, ENOSPC…) that the program's failures know
// for a Windows error code, so that messages read the same on every system.
int errnoOf(DWORD windowsError);
// The same for an NTSTATUS of the native calls.
int errnoOfStatus(LONG status);
[[noreturn]] void throwWindowsError(DWORD windowsError, const QString& action,
                                    const std::string& path);

// UTF-8 paths with '/' inside the program; UTF-16 only at the system's calls.
std::wstring wide(const std::string& utf8);
std::string utf8(const wchar_t* text, std::size_t length);

// What is at `name` in the open folder `folder` (a reparse point not
// followed); Missing when nothing is there.
PathInfo lookUpIn(HANDLE folder, const std::string& name, const std::string& pathForErrors);
// What the open handle is.
PathInfo lookUpHandle(HANDLE file, const std::string& pathForErrors);
// The target of the symbolic link or junction open as `link` (opened itself,
// not followed), with '/' separators; nothing when it is no link.
std::optional<std::string> linkTargetOf(HANDLE link, const std::string& pathForErrors,
                                        const QString& action);
// Opens `name` in the open folder `folder` (NtCreateFile with the folder as
// its root; the folder itself when `name` is empty), a reparse point there
// opened itself, never followed; one made here gets `security`, where given.
// Returns the NTSTATUS, negative on failure; `file` is the handle on success,
// and `outcome`, where asked for, FILE_CREATED, FILE_OPENED…
LONG openIn(HANDLE folder, const std::string& name, ACCESS_MASK access, ULONG disposition,
            ULONG attributes, ULONG options, HANDLE& file, PSECURITY_DESCRIPTOR security = nullptr,
            ULONG_PTR* outcome = nullptr);

} // namespace kavlento::fs
