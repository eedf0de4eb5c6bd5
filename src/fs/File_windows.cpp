#include "fs/File.h"

#include "base/Failure.h"
#include "fs/Descriptor_windows.h"

#include <QCryptographicHash>
#include <QDir>

#include <aclapi.h>
#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iterator>
#include <vector>

namespace kavlento::fs {

namespace {

const QString kCannotRead = QStringLiteral("Dosya okunamadı");
const QString kCannotWrite = QStringLiteral("Dosya yazılamadı");

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Seconds between 1601-01-01, where Windows counts from, and 1970-01-01.
constexpr std::int64_t kEpochOffset = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;
// IO_REPARSE_TAG_AF_UNIX, which MinGW's headers lack: a Unix socket.
constexpr DWORD kUnixSocketTag = 0x80000023;
// What an owner unknown to us is, never a user's number nor the administrator's.
constexpr std::uint32_t kUnknownOwner = 0xffffffff;

bool isMissing(DWORD error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
           error == ERROR_INVALID_NAME || error == ERROR_DIRECTORY;
}

// A path the calls take at any length: past MAX_PATH only with the "\\?\"
// prefix, which also turns off the system's own cleaning of the path.
std::wstring systemPath(const std::string& path) {
    std::wstring text = wide(path);
    if (text.size() < MAX_PATH || text.rfind(L"\\\\?\\", 0) == 0) {
        return text;
    }
    const DWORD size = ::GetFullPathNameW(text.c_str(), 0, nullptr, nullptr);
    std::wstring full(size, L'\0');
    const DWORD length = ::GetFullPathNameW(text.c_str(), size, full.data(), nullptr);
    if (length == 0 || length >= size) {
        return text;
    }
    full.resize(length);
    return full.rfind(L"\\\\", 0) == 0 ? L"\\\\?\\UNC\\" + full.substr(2) : L"\\\\?\\" + full;
}

HANDLE openPath(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
    return ::CreateFileW(systemPath(path).c_str(), access, kShareAll, nullptr, disposition, flags,
                         nullptr);
}

Timestamp timestampOf(std::int64_t ticks) {
    const std::int64_t seconds = ticks / kTicksPerSecond - kEpochOffset;
    std::int64_t rest = ticks % kTicksPerSecond;
    return {rest < 0 ? seconds - 1 : seconds,
            static_cast<std::uint32_t>((rest < 0 ? rest + kTicksPerSecond : rest) * 100)};
}

std::int64_t ticksOf(Timestamp t) {
    return (t.seconds + kEpochOffset) * kTicksPerSecond + t.nanoseconds / 100;
}

// The 32-bit number a user goes by (its SID hashed, FNV-1a); 0 for the
// system and the Administrators group, who stand where root does.
std::uint32_t userNumberOf(PSID sid) {
    if (::IsWellKnownSid(sid, WinLocalSystemSid) ||
        ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid)) {
        return 0;
    }
    std::uint32_t hash = 2166136261u;
    const auto* bytes = static_cast<const unsigned char*>(sid);
    for (DWORD i = 0; i < ::GetLengthSid(sid); ++i) {
        hash = (hash ^ bytes[i]) * 16777619u;
    }
    return hash == 0 || hash == kUnknownOwner ? 1 : hash;
}

// The SID of the user this process acts as.
const std::vector<unsigned char>& ownSid() {
    static const std::vector<unsigned char> sid = [] {
        HANDLE token = nullptr;
        std::vector<unsigned char> user(SECURITY_MAX_SID_SIZE + sizeof(TOKEN_USER));
        DWORD size = 0;
        if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token) ||
            !::GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()),
                                   &size)) {
            throwWindowsError(::GetLastError(), QStringLiteral("Kullanıcı okunamadı"), {});
        }
        ::CloseHandle(token);
        const PSID own = reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
        const auto* bytes = static_cast<const unsigned char*>(own);
        return std::vector<unsigned char>(bytes, bytes + ::GetLengthSid(own));
    }();
    return sid;
}

// Whoever may write besides these could have put what is there: the owner,
// this user, the system and the Administrators group.
bool isTrustedWriter(PSID sid, PSID owner) {
    return ::EqualSid(sid, owner) || ::EqualSid(sid, const_cast<unsigned char*>(ownSid().data())) ||
           ::IsWellKnownSid(sid, WinLocalSystemSid) ||
           ::IsWellKnownSid(sid, WinBuiltinAdministratorsSid) ||
           ::IsWellKnownSid(sid, WinCreatorOwnerRightsSid);
}

// Whether the list grants anyone else a right to change the entry: to write
// it, add to it, remove or rename it, or change its rights.
bool othersMayWrite(PACL dacl, PSID owner) {
    if (dacl == nullptr) {
        return true; // no list: everyone may do everything
    }
    constexpr DWORD kChanging = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE |
                                WRITE_DAC | WRITE_OWNER | GENERIC_WRITE | GENERIC_ALL;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) {
            return true;
        }
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        if ((header->AceFlags & INHERIT_ONLY_ACE) != 0 ||
            header->AceType == ACCESS_DENIED_ACE_TYPE) {
            continue; // for entries made below it later; or a right taken away
        }
        const auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
        if ((allowed->Mask & kChanging) == 0) {
            continue;
        }
        // Other kinds of entries grant under conditions we do not weigh.
        if (header->AceType != ACCESS_ALLOWED_ACE_TYPE ||
            !isTrustedWriter(const_cast<DWORD*>(&allowed->SidStart), owner)) {
            return true;
        }
    }
    return false;
}

bool keepsAccessLists(HANDLE file) {
    DWORD flags = 0;
    return ::GetVolumeInformationByHandleW(file, nullptr, 0, nullptr, nullptr, &flags, nullptr,
                                           0) &&
           (flags & FILE_PERSISTENT_ACLS) != 0;
}

// The owner and whether others may write, from the entry's access list. Where
// the volume keeps none (FAT, exFAT) whoever reaches the disk may write
// everything on it, as on a Linux mount without permissions: the entry counts
// as this user's. Where the list cannot be read, the owner is unknown and
// others are taken to write: what is there is not trusted.
void addOwnership(HANDLE file, PathInfo& info) {
    if (!keepsAccessLists(file)) {
        info.owner = effectiveUser();
        return;
    }
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetSecurityInfo(file, SE_FILE_OBJECT,
                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                          &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        info.owner = kUnknownOwner;
        info.mode |= 022;
        return;
    }
    info.owner = owner != nullptr ? userNumberOf(owner) : kUnknownOwner;
    if (owner == nullptr || othersMayWrite(dacl, owner)) {
        info.mode |= 022;
    }
    ::LocalFree(descriptor);
}

PathKind kindOf(DWORD attributes, DWORD reparseTag) {
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        (reparseTag == IO_REPARSE_TAG_SYMLINK || reparseTag == IO_REPARSE_TAG_MOUNT_POINT)) {
        return PathKind::Link;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && reparseTag == kUnixSocketTag) {
        return PathKind::Other;
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Folder : PathKind::File;
}

// Permission bits as the rest of the program reads them: read-only files lose
// their write bits; access lists that let others write add theirs.
std::uint32_t modeOf(PathKind kind, DWORD attributes) {
    if (kind == PathKind::Folder || kind == PathKind::Link) {
        return 0755;
    }
    return (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0644;
}

// A handle that tells about `path` itself (a link not followed unless asked),
// with its access list where this user may read that; none when nothing is there.
std::optional<UniqueFd> openForLookUp(const std::string& path, bool follow,
                                      const std::string& pathForErrors) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    UniqueFd handle = Descriptor::adopt(
        openPath(path, FILE_READ_ATTRIBUTES | READ_CONTROL, OPEN_EXISTING, flags));
    if (!handle.valid() && ::GetLastError() == ERROR_ACCESS_DENIED) {
        handle = Descriptor::adopt(openPath(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, flags));
    }
    if (!handle.valid()) {
        const DWORD error = ::GetLastError();
        if (isMissing(error)) {
            return std::nullopt;
        }
        throwWindowsError(error, kCannotRead, pathForErrors);
    }
    return handle;
}

DWORD reparseTagOf(HANDLE file, const std::string& pathForErrors) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag)) {
        throwWindowsError(::GetLastError(), kCannotRead, pathForErrors);
    }
    return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? tag.ReparseTag : 0;
}

// The parts of a symbolic link's or a junction's reparse data that matter here.
struct LinkReparseData {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
};

OVERLAPPED at(std::uint64_t offset) {
    OVERLAPPED place{};
    place.Offset = static_cast<DWORD>(offset);
    place.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return place;
}

constexpr std::size_t kLargestTransfer = 1u << 30;

// Clears a file's read-only attribute, which Windows honours against removal
// and replacement where POSIX asks only the folder; false when it had none.
bool clearReadOnly(const std::wstring& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
           ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

std::uint32_t userNumberOfProcess() {
    return userNumberOf(const_cast<unsigned char*>(ownSid().data()));
}

} // namespace

int errnoOf(DWORD windowsError) {
    switch (windowsError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_CANNOT_MAKE:
    case ERROR_PRIVILEGE_NOT_HELD:
        return EACCES;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return EEXIST;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_BUSY:
        return EBUSY;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_BUFFER_OVERFLOW:
        return ENAMETOOLONG;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return ENOSYS;
    case ERROR_CANT_RESOLVE_FILENAME:
        return ELOOP;
    case ERROR_NOT_READY:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_CRC:
    case ERROR_SEEK:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
    case ERROR_UNEXP_NET_ERR:
    case ERROR_NETNAME_DELETED:
        return EIO;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    default:
        return EINVAL;
    }
}

int errnoOfStatus(LONG status) {
    return errnoOf(::RtlNtStatusToDosError(status));
}

void throwWindowsError(DWORD windowsError, const QString& action, const std::string& path) {
    throwSystemError(errnoOf(windowsError), action, path);
}

std::wstring wide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int size =
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    for (wchar_t& c : out) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return out;
}

std::string utf8(const wchar_t* text, std::size_t length) {
    if (length == 0) {
        return {};
    }
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), out.data(), size, nullptr,
                          nullptr);
    for (char& c : out) {
        if (c == '\\') {
            c = '/';
        }
    }
    return out;
}

std::string toSystemPath(const QString& path) {
    return QDir::fromNativeSeparators(path).toUtf8().toStdString();
}

QString fromSystemPath(std::string_view path) {
    return QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size()));
}

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (valid()) {
            ::CloseHandle(fd_);
        }
        fd_ = other.release();
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (valid()) {
        ::CloseHandle(fd_);
    }
}

UniqueFd::Handle UniqueFd::release() {
    const Handle fd = fd_;
    fd_ = none();
    return fd;
}

void UniqueFd::close(const std::string& pathForErrors) {
    const bool open = valid();
    const Handle fd = release();
    if (open && !::CloseHandle(fd)) {
        throwWindowsError(::GetLastError(), QStringLiteral("Dosya kapatılamadı"), pathForErrors);
    }
}

PathInfo lookUpHandle(HANDLE file, const std::string& pathForErrors) {
    BY_HANDLE_FILE_INFORMATION basic{};
    FILE_BASIC_INFO times{};
    if (!::GetFileInformationByHandle(file, &basic) ||
        !::GetFileInformationByHandleEx(file, FileBasicInfo, &times, sizeof times)) {
        throwWindowsError(::GetLastError(), kCannotRead, pathForErrors);
    }
    PathInfo info;
    info.kind = kindOf(basic.dwFileAttributes, reparseTagOf(file, pathForErrors));
    info.size = (std::uint64_t{basic.nFileSizeHigh} << 32) | basic.nFileSizeLow;
    info.modified = timestampOf(times.LastWriteTime.QuadPart);
    info.changed = timestampOf(times.ChangeTime.QuadPart);
    info.mode = modeOf(info.kind, basic.dwFileAttributes);
    info.links = basic.nNumberOfLinks;
    info.device = basic.dwVolumeSerialNumber;
    info.inode = (std::uint64_t{basic.nFileIndexHigh} << 32) | basic.nFileIndexLow;
    info.mount = info.device; // a rename works only within a volume
    addOwnership(file, info);
    return info;
}

LONG openIn(HANDLE folder, const std::string& name, ACCESS_MASK access, ULONG disposition,
            ULONG attributes, ULONG options, HANDLE& file, PSECURITY_DESCRIPTOR security,
            ULONG_PTR* outcome) {
    std::wstring relative = wide(name);
    // A longer name would be cut short to the length's low bits: another name.
    if (relative.size() * sizeof(wchar_t) > 0xffff) {
        return static_cast<LONG>(0xC0000033); // STATUS_OBJECT_NAME_INVALID
    }
    UNICODE_STRING text{};
    text.Buffer = relative.data();
    text.Length = static_cast<USHORT>(relative.size() * sizeof(wchar_t));
    text.MaximumLength = text.Length;
    OBJECT_ATTRIBUTES where{};
    InitializeObjectAttributes(&where, &text, OBJ_CASE_INSENSITIVE, folder, security);
    IO_STATUS_BLOCK io{};
    const LONG status = ::NtCreateFile(
        &file, access | SYNCHRONIZE, &where, &io, nullptr, attributes, kShareAll, disposition,
        options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
    if (outcome != nullptr) {
        *outcome = io.Information;
    }
    return status;
}

PathInfo lookUpIn(HANDLE folder, const std::string& name, const std::string& pathForErrors) {
    HANDLE file = INVALID_HANDLE_VALUE;
    const auto open = [&](ACCESS_MASK access) {
        return openIn(folder, name, access, FILE_OPEN, 0, FILE_OPEN_FOR_BACKUP_INTENT, file);
    };
    NTSTATUS status = open(FILE_READ_ATTRIBUTES | READ_CONTROL);
    if (status < 0 && ::RtlNtStatusToDosError(status) == ERROR_ACCESS_DENIED) {
        status = open(FILE_READ_ATTRIBUTES);
    }
    if (status < 0) {
        const DWORD error = ::RtlNtStatusToDosError(status);
        if (isMissing(error)) {
            return PathInfo{};
        }
        throwWindowsError(error, kCannotRead, pathForErrors);
    }
    const UniqueFd owned = Descriptor::adopt(file);
    return lookUpHandle(file, pathForErrors);
}

PathInfo lookUp(const std::string& path) {
    const std::optional<UniqueFd> handle = openForLookUp(path, false, path);
    return handle ? lookUpHandle(Descriptor::of(*handle), path) : PathInfo{};
}

PathInfo lookUpFollowing(const std::string& path) {
    const std::optional<UniqueFd> handle = openForLookUp(path, true, path);
    return handle ? lookUpHandle(Descriptor::of(*handle), path) : PathInfo{};
}

PathInfo lookUp(const UniqueFd& file, const std::string& pathForErrors) {
    return lookUpHandle(Descriptor::of(file), pathForErrors);
}

std::optional<UniqueFd> openForReading(const std::string& path, AtALink link) {
    // Folders open as on POSIX, where a link to one must be refused all the same.
    const auto open = [&](DWORD flags) {
        UniqueFd file = Descriptor::adopt(
            openPath(path, GENERIC_READ, OPEN_EXISTING, flags | FILE_FLAG_BACKUP_SEMANTICS));
        if (!file.valid() && !isMissing(::GetLastError())) {
            throwWindowsError(::GetLastError(), kCannotRead, path);
        }
        return file;
    };
    if (link == AtALink::Follow) {
        UniqueFd file = open(0);
        return file.valid() ? std::optional<UniqueFd>(std::move(file)) : std::nullopt;
    }
    UniqueFd itself = open(FILE_FLAG_OPEN_REPARSE_POINT);
    if (!itself.valid()) {
        return std::nullopt;
    }
    const DWORD tag = reparseTagOf(Descriptor::of(itself), path);
    if (tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT) {
        return std::nullopt;
    }
    if (tag == 0) {
        return itself;
    }
    // Another kind of reparse point (a cloud file, a deduplicated one): its
    // content is read through the system's filter, which needs it opened
    // normally; the same file, or nothing if it was replaced meanwhile.
    UniqueFd content = open(0);
    if (!content.valid() || !lookUp(content, path).sameFile(lookUp(itself, path))) {
        return std::nullopt;
    }
    return content;
}

UniqueFd createNew(const std::string& path, std::uint32_t) {
    // The bits have no counterpart but the read-only attribute, which would
    // keep the new file from being written; setModeAndTime gives it.
    UniqueFd file = Descriptor::adopt(
        openPath(path, GENERIC_READ | GENERIC_WRITE | DELETE, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
    if (!file.valid()) {
        throwWindowsError(::GetLastError(), QStringLiteral("Dosya oluşturulamadı"), path);
    }
    return file;
}

UniqueFd duplicate(const UniqueFd& file, const std::string& pathForErrors) {
    HANDLE copy = INVALID_HANDLE_VALUE;
    if (!::DuplicateHandle(::GetCurrentProcess(), Descriptor::of(file), ::GetCurrentProcess(),
                           &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
        throwWindowsError(::GetLastError(), kCannotRead, pathForErrors);
    }
    return Descriptor::adopt(copy);
}

UniqueFd openForUpdate(const std::string& path) {
    constexpr DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
    constexpr DWORD kFlags = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
    UniqueFd file = Descriptor::adopt(openPath(path, kAccess, OPEN_ALWAYS, kFlags));
    if (file.valid() && lookUp(file, path).kind == PathKind::Link) {
        file = UniqueFd();
        removeFile(path, kCannotWrite);
        file = Descriptor::adopt(openPath(path, kAccess, CREATE_NEW, kFlags));
    }
    if (!file.valid()) {
        throwWindowsError(::GetLastError(), kCannotWrite, path);
    }
    if (lookUp(file, path).kind != PathKind::File) {
        throwSystemError(EINVAL, kCannotWrite, path);
    }
    return file;
}

std::size_t readAt(const UniqueFd& file, std::uint64_t offset, void* buffer, std::size_t size,
                   const std::string& path) {
    auto* out = static_cast<char*>(buffer);
    std::size_t done = 0;
    while (done < size) {
        OVERLAPPED place = at(offset + done);
        DWORD n = 0;
        const auto wanted = static_cast<DWORD>(std::min(size - done, kLargestTransfer));
        if (!::ReadFile(Descriptor::of(file), out + done, wanted, &n, &place)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            throwWindowsError(::GetLastError(), kCannotRead, path);
        }
        if (n == 0) {
            break;
        }
        done += n;
    }
    return done;
}

void writeAllAt(const UniqueFd& file, std::uint64_t offset, const void* buffer, std::size_t size,
                const std::string& path) {
    const auto* in = static_cast<const char*>(buffer);
    while (size > 0) {
        OVERLAPPED place = at(offset);
        DWORD n = 0;
        const auto wanted = static_cast<DWORD>(std::min(size, kLargestTransfer));
        if (!::WriteFile(Descriptor::of(file), in, wanted, &n, &place)) {
            throwWindowsError(::GetLastError(), kCannotWrite, path);
        }
        in += n;
        offset += n;
        size -= n;
    }
}

void truncateTo(const UniqueFd& file, std::uint64_t size, const std::string& path) {
    LARGE_INTEGER current{};
    if (::GetFileSizeEx(Descriptor::of(file), &current) &&
        static_cast<std::uint64_t>(current.QuadPart) == size) {
        return;
    }
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
    if (!::SetFileInformationByHandle(Descriptor::of(file), FileEndOfFileInfo, &end, sizeof end)) {
        throwWindowsError(::GetLastError(), kCannotWrite, path);
    }
}

void syncFile(const UniqueFd& file, const std::string& path) {
    if (!::FlushFileBuffers(Descriptor::of(file))) {
        throwWindowsError(::GetLastError(), QStringLiteral("Dosya diske yazılamadı"), path);
    }
}

// Windows has no request to start writing back a range without waiting;
// FlushFileBuffers later writes all of it.
void startWriting(const UniqueFd&, std::uint64_t, std::uint64_t) {}

// Windows drops a file's cached pages only for handles opened without
// buffering; the read that follows comes from memory, as the promise allows.
void dropCachedPages(const UniqueFd&) {}

// NTFS journals its names, and MOVEFILE_WRITE_THROUGH returns only once a
// rename is on the disk; a folder has nothing of its own to flush.
void syncFolder(const std::string&) {}

void syncFolder(const UniqueFd&, const std::string&) {}

std::optional<std::string> resolvedPath(const std::string& path) {
    const UniqueFd file = Descriptor::adopt(
        openPath(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (!file.valid()) {
        return std::nullopt;
    }
    std::wstring name(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = ::GetFinalPathNameByHandleW(
                Descriptor::of(file), name.data(), static_cast<DWORD>(name.size()),
                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS)) >= name.size()) {
        name.resize(length);
    }
    if (length == 0) {
        return std::nullopt;
    }
    name.resize(length);
    if (name.rfind(L"\\\\?\\UNC\\", 0) == 0) {
        name = L"\\\\" + name.substr(8);
    } else if (name.rfind(L"\\\\?\\", 0) == 0) {
        name = name.substr(4);
    }
    return utf8(name.data(), name.size());
}

void makeFolder(const std::string& path, std::uint32_t, const QString& action) {
    if (!::CreateDirectoryW(systemPath(path).c_str(), nullptr)) {
        throwWindowsError(::GetLastError(), action, path);
    }
}

void makeFolderUnlessPresent(const std::string& path, std::uint32_t, const QString& action) {
    if (::CreateDirectoryW(systemPath(path).c_str(), nullptr)) {
        return;
    }
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS) {
        throwWindowsError(error, action, path);
    }
    const PathKind present = lookUp(path).kind;
    if (present != PathKind::Folder) {
        throwSystemError(present == PathKind::Link ? ELOOP : EEXIST, action, path);
    }
}

std::vector<std::string> listFolder(const std::string& path, const QString& action) {
    WIN32_FIND_DATAW item{};
    const std::wstring pattern = systemPath(joinPath(path, "*"));
    HANDLE search = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &item,
                                       FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    std::vector<std::string> names;
    if (search == INVALID_HANDLE_VALUE) {
        if (::GetLastError() == ERROR_FILE_NOT_FOUND) {
            return names; // a drive's empty root, which has no "." either
        }
        throwWindowsError(::GetLastError(), action, path);
    }
    do {
        const std::wstring_view name = item.cFileName;
        if (name != L"." && name != L"..") {
            names.push_back(utf8(name.data(), name.size()));
        }
    } while (::FindNextFileW(search, &item));
    const DWORD error = ::GetLastError();
    ::FindClose(search);
    if (error != ERROR_NO_MORE_FILES) {
        throwWindowsError(error, action, path);
    }
    return names;
}

void renamePath(const std::string& from, const std::string& to, const QString& action) {
    const std::wstring source = systemPath(from);
    const std::wstring target = systemPath(to);
    constexpr DWORD kFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
    if (!::MoveFileExW(source.c_str(), target.c_str(), kFlags) &&
        !(::GetLastError() == ERROR_ACCESS_DENIED && clearReadOnly(target) &&
          ::MoveFileExW(source.c_str(), target.c_str(), kFlags))) {
        throwWindowsError(::GetLastError(), action, to);
    }
}

void removeFile(const std::string& path, const QString& action) {
    const std::wstring name = systemPath(path);
    if (::DeleteFileW(name.c_str())) {
        return;
    }
    const DWORD error = ::GetLastError();
    const DWORD attributes = ::GetFileAttributesW(name.c_str());
    if (error != ERROR_ACCESS_DENIED || attributes == INVALID_FILE_ATTRIBUTES) {
        throwWindowsError(error, action, path);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        // A read-only file goes as on POSIX, where only its folder's rights count.
        if (!clearReadOnly(name)) {
            throwWindowsError(error, action, path);
        }
        if (!::DeleteFileW(name.c_str())) {
            throwWindowsError(::GetLastError(), action, path);
        }
        return;
    }
    if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        throwSystemError(EISDIR, action, path); // a folder, as unlink says
    }
    // A link to a folder goes as a folder does.
    if (!::RemoveDirectoryW(name.c_str())) {
        throwWindowsError(::GetLastError(), action, path);
    }
}

std::optional<std::string> readLinkTarget(const std::string& path, const QString& action) {
    const UniqueFd link =
        Descriptor::adopt(openPath(path, FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS));
    if (!link.valid()) {
        if (isMissing(::GetLastError())) {
            return std::nullopt;
        }
        throwWindowsError(::GetLastError(), action, path);
    }
    return linkTargetOf(Descriptor::of(link), path, action);
}

// A link's target as written: relative as it is, absolute without the "\??\"
// that the system puts before it.
std::optional<std::string> linkTargetOf(HANDLE link, const std::string& pathForErrors,
                                        const QString& action) {
    std::vector<std::uint64_t> data(MAXIMUM_REPARSE_DATA_BUFFER_SIZE / sizeof(std::uint64_t));
    DWORD size = 0;
    if (!::DeviceIoControl(link, FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                           static_cast<DWORD>(data.size() * sizeof(std::uint64_t)), &size,
                           nullptr)) {
        if (::GetLastError() == ERROR_NOT_A_REPARSE_POINT) {
            return std::nullopt; // no longer a link
        }
        throwWindowsError(::GetLastError(), action, pathForErrors);
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
    LinkReparseData head{};
    std::memcpy(&head, bytes, sizeof head);
    const bool symlink = head.tag == IO_REPARSE_TAG_SYMLINK;
    if (!symlink && head.tag != IO_REPARSE_TAG_MOUNT_POINT) {
        return std::nullopt; // not a link, whatever else it is
    }
    const std::size_t start = sizeof head + (symlink ? sizeof(ULONG) : 0); // a symlink's flags
    if (start + head.substituteOffset + head.substituteLength > size) {
        throwSystemError(EINVAL, action, pathForErrors);
    }
    std::wstring target(head.substituteLength / sizeof(wchar_t), L'\0');
    std::memcpy(target.data(), bytes + start + head.substituteOffset, head.substituteLength);
    if (target.rfind(L"\\??\\UNC\\", 0) == 0) {
        target = L"\\\\" + target.substr(8);
    } else if (target.rfind(L"\\??\\", 0) == 0) {
        target = target.substr(4);
    }
    return utf8(target.data(), target.size());
}

void setModeAndTime(const UniqueFd& file, std::uint32_t mode, Timestamp modified,
                    const std::string& pathForErrors, const QString& action) {
    FILE_BASIC_INFO basic{};
    if (!::GetFileInformationByHandleEx(Descriptor::of(file), FileBasicInfo, &basic,
                                        sizeof basic)) {
        throwWindowsError(::GetLastError(), action, pathForErrors);
    }
    // Only a file's write bits have a counterpart: the read-only attribute.
    // On a folder that attribute means something else, and stays as it is.
    if ((basic.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        basic.FileAttributes = (mode & 0222) == 0 ? basic.FileAttributes | FILE_ATTRIBUTE_READONLY
                                                  : basic.FileAttributes & ~FILE_ATTRIBUTE_READONLY;
    }
    if (basic.FileAttributes == 0) {
        basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
    }
    basic.LastWriteTime.QuadPart = ticksOf(modified);
    basic.CreationTime.QuadPart = 0; // 0: unchanged
    basic.LastAccessTime.QuadPart = 0;
    basic.ChangeTime.QuadPart = 0;
    if (!::SetFileInformationByHandle(Descriptor::of(file), FileBasicInfo, &basic, sizeof basic)) {
        throwWindowsError(::GetLastError(), action, pathForErrors);
    }
}

int creationRefusal(const std::string& folder) {
    const UniqueFd itself = Descriptor::adopt(
        openPath(folder, FILE_READ_ATTRIBUTES, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    if (!itself.valid()) {
        return errnoOf(::GetLastError());
    }
    BY_HANDLE_FILE_INFORMATION info{};
    DWORD volumeFlags = 0;
    if (!::GetFileInformationByHandle(Descriptor::of(itself), &info) ||
        !::GetVolumeInformationByHandleW(Descriptor::of(itself), nullptr, 0, nullptr, nullptr,
                                         &volumeFlags, nullptr, 0)) {
        return errnoOf(::GetLastError());
    }
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return ENOTDIR;
    }
    if ((volumeFlags & FILE_READ_ONLY_VOLUME) != 0) {
        return EROFS;
    }
    // Opening the folder for adding asks its access list what this user may do.
    const UniqueFd adding = Descriptor::adopt(openPath(
        folder, FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    return adding.valid() ? 0 : errnoOf(::GetLastError());
}

int readingRefusal(const std::string& path) {
    const UniqueFd file =
        Descriptor::adopt(openPath(path, GENERIC_READ, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS));
    return file.valid() ? 0 : errnoOf(::GetLastError());
}

std::string executableFolder() {
    std::wstring name(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = ::GetModuleFileNameW(nullptr, name.data(), static_cast<DWORD>(name.size()))) ==
           name.size()) {
        name.resize(name.size() * 2);
    }
    if (length == 0) {
        throwWindowsError(::GetLastError(), QStringLiteral("Programın yeri okunamadı"), {});
    }
    const std::string executable = utf8(name.data(), length);
    return folderOf(resolvedPath(executable).value_or(executable));
}

std::string hostName() {
    wchar_t name[256] = {};
    DWORD length = std::size(name);
    return ::GetComputerNameExW(ComputerNameDnsHostname, name, &length) ? utf8(name, length)
                                                                        : std::string();
}

std::string machineIdentity() {
    wchar_t id[128] = {};
    DWORD size = sizeof id;
    if (::RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                       RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, id,
                       &size) != ERROR_SUCCESS ||
        id[0] == L'\0') {
        return std::string();
    }
    const QByteArray text = QString::fromWCharArray(id).trimmed().toUtf8();
    return QCryptographicHash::hash("kavlento-yedek:" + text, QCryptographicHash::Sha256)
        .toHex()
        .left(32)
        .toStdString();
}

std::uint32_t effectiveUser() {
    static const std::uint32_t user = userNumberOfProcess();
    return user;
}

// Root's counterpart: a process whose token holds the Administrators group
// enabled, which only an elevated one does under UAC.
bool isAdministrator() {
    BYTE sid[SECURITY_MAX_SID_SIZE] = {};
    DWORD size = sizeof sid;
    BOOL member = FALSE;
    return ::CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &size) &&
           ::CheckTokenMembership(nullptr, sid, &member) && member;
}

} // namespace kavlento::fs
