#include "fs/OpenFolder.h"

#include "base/Failure.h"
#include "fs/Descriptor_windows.h"

#include <aclapi.h>
#include <winioctl.h>
#include <winternl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <random>
#include <vector>

namespace kavlento::fs {

namespace {

const QString kCannotOpen = QStringLiteral("Klasör açılamadı");
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// A folder on the way: only passed through, so one this user may not list is
// passed all the same.
constexpr ACCESS_MASK kPassAccess = FILE_TRAVERSE | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
// A folder held open: its access list too, where this user may read it, for
// its owner.
constexpr ACCESS_MASK kHeldAccess = kPassAccess | READ_CONTROL;
constexpr ACCESS_MASK kListAccess = kPassAccess | FILE_LIST_DIRECTORY;
constexpr ACCESS_MASK kRemovalAccess =
    DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE;

// NTSTATUS values, and information classes and flags that MinGW's headers
// leave out or, below their newest _WIN32_WINNT, number otherwise than Windows.
constexpr NTSTATUS statusOf(unsigned long value) {
    return static_cast<NTSTATUS>(value);
}
constexpr NTSTATUS kNotImplemented = statusOf(0xC0000002);
constexpr NTSTATUS kInvalidInfoClass = statusOf(0xC0000003);
constexpr NTSTATUS kInvalidParameter = statusOf(0xC000000D);
constexpr NTSTATUS kAccessDenied = statusOf(0xC0000022);
constexpr NTSTATUS kNameInvalid = statusOf(0xC0000033);
constexpr NTSTATUS kNameNotFound = statusOf(0xC0000034);
constexpr NTSTATUS kPathNotFound = statusOf(0xC000003A);
constexpr NTSTATUS kDeletePending = statusOf(0xC0000056);
constexpr NTSTATUS kNotSupported = statusOf(0xC00000BB);
constexpr NTSTATUS kNotADirectory = statusOf(0xC0000103);
constexpr auto kBasicInformation = static_cast<FILE_INFORMATION_CLASS>(4);
constexpr auto kRenameInformation = static_cast<FILE_INFORMATION_CLASS>(10);
constexpr auto kDispositionInformation = static_cast<FILE_INFORMATION_CLASS>(13);
constexpr auto kDispositionInformationEx = static_cast<FILE_INFORMATION_CLASS>(64);
constexpr auto kRenameInformationEx = static_cast<FILE_INFORMATION_CLASS>(65);
constexpr auto kFsFullSizeInformation = static_cast<FS_INFORMATION_CLASS>(7);
constexpr auto kCaseSensitiveInfo = static_cast<FILE_INFO_BY_HANDLE_CLASS>(23);
constexpr ULONG kDispositionDelete = 0x1;
constexpr ULONG kDispositionPosix = 0x2;
constexpr ULONG kDispositionIgnoreReadOnly = 0x10;
constexpr ULONG kRenameReplace = 0x1;
constexpr ULONG kRenamePosix = 0x2;
constexpr ULONG kRenameIgnoreReadOnly = 0x40;
constexpr ULONG kCaseSensitiveFolder = 0x1;

struct RenameInformation {
    ULONG flags; // ReplaceIfExists, a BOOLEAN, for the older class
    HANDLE rootDirectory;
    ULONG nameLength;
    WCHAR name[1];
};

struct FsFullSizeInformation {
    LARGE_INTEGER totalUnits;
    LARGE_INTEGER callerAvailableUnits;
    LARGE_INTEGER actualAvailableUnits;
    ULONG sectorsPerUnit;
    ULONG bytesPerSector;
};

bool absentOnTheWay(NTSTATUS status) {
    return status == kNameNotFound || status == kPathNotFound || status == kNotADirectory ||
           status == kNameInvalid || status == kDeletePending;
}

// What a newer Windows does and an older one, another file system or Wine
// does not know.
bool unknownHere(NTSTATUS status) {
    return status == kInvalidParameter || status == kInvalidInfoClass || status == kNotSupported ||
           status == kNotImplemented;
}

// One name, never a path: a backslash would take the system several folders
// down unchecked, a colon to a stream of a file.
bool isPlainName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of(std::string_view("\\:\0", 3)) == std::string_view::npos;
}

struct Opened {
    NTSTATUS status = 0;
    UniqueFd handle;
    ULONG_PTR outcome = 0; // FILE_CREATED, FILE_OPENED…
};

Opened openAt(HANDLE folder, const std::string& name, ACCESS_MASK access, ULONG disposition,
              ULONG options, ULONG attributes = 0, PSECURITY_DESCRIPTOR security = nullptr) {
    Opened opened;
    HANDLE handle = INVALID_HANDLE_VALUE;
    opened.status = openIn(folder, name, access, disposition, attributes, options, handle, security,
                           &opened.outcome);
    if (NT_SUCCESS(opened.status)) {
        opened.handle = Descriptor::adopt(handle);
    }
    return opened;
}

std::optional<FILE_ATTRIBUTE_TAG_INFO> tagOf(HANDLE file) {
    FILE_ATTRIBUTE_TAG_INFO tag{};
    if (!::GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag)) {
        return std::nullopt;
    }
    return tag;
}

// A symbolic link or a junction: a reparse point that names another place.
// Others (files kept in a cloud, say) are what they show.
bool redirects(const FILE_ATTRIBUTE_TAG_INFO& tag) {
    return (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           IsReparseTagNameSurrogate(tag.ReparseTag);
}

bool isFolder(const FILE_ATTRIBUTE_TAG_INFO& tag) {
    return (tag.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

FILE_ATTRIBUTE_TAG_INFO requireTag(HANDLE file, const QString& action, const std::string& path) {
    const std::optional<FILE_ATTRIBUTE_TAG_INFO> tag = tagOf(file);
    if (!tag) {
        throwWindowsError(::GetLastError(), action, path);
    }
    return *tag;
}

// The folder `name` in `at`; nothing when nothing, a file or a link is there.
std::optional<UniqueFd> openFolderIn(HANDLE at, const std::string& name, ACCESS_MASK access,
                                     const std::string& pathForErrors) {
    Opened opened = openAt(at, name, access, FILE_OPEN, FILE_DIRECTORY_FILE);
    if (opened.status == kAccessDenied && access == kHeldAccess) {
        opened = openAt(at, name, kPassAccess, FILE_OPEN, FILE_DIRECTORY_FILE);
    }
    if (!NT_SUCCESS(opened.status)) {
        if (absentOnTheWay(opened.status)) {
            return std::nullopt;
        }
        throwSystemError(errnoOfStatus(opened.status), kCannotOpen, pathForErrors);
    }
    if (redirects(requireTag(Descriptor::of(opened.handle), kCannotOpen, pathForErrors))) {
        return std::nullopt;
    }
    return std::move(opened.handle);
}

// The folder at `relative` below `root`, opened one name at a time.
std::optional<UniqueFd> openBelow(HANDLE root, std::string_view relative, ACCESS_MASK access,
                                  const std::string& rootPath) {
    if (relative.empty()) {
        return openFolderIn(root, {}, access, rootPath);
    }
    std::optional<UniqueFd> current;
    HANDLE at = root;
    for (std::size_t start = 0; start <= relative.size();) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        const std::string_view name = relative.substr(start, end - start);
        if (!isPlainName(name)) {
            return std::nullopt;
        }
        current = openFolderIn(at, std::string(name), end == relative.size() ? access : kPassAccess,
                               joinPath(rootPath, relative.substr(0, end)));
        if (!current) {
            return std::nullopt;
        }
        at = Descriptor::of(*current);
        start = end + 1;
    }
    return current;
}

// The names in the folder open for listing but "." and ".."; nothing when it
// cannot be read, GetLastError() saying why.
std::optional<std::vector<std::string>> namesIn(HANDLE folder) {
    std::vector<std::string> names;
    std::vector<std::uint64_t> buffer(8192); // aligned as the entries need
    const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
    while (::GetFileInformationByHandleEx(folder, FileFullDirectoryInfo, buffer.data(), size)) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(buffer.data());
        for (std::size_t at = 0;;) {
            const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(bytes + at);
            const std::wstring_view name(entry->FileName, entry->FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                names.push_back(utf8(name.data(), name.size()));
            }
            if (entry->NextEntryOffset == 0) {
                break;
            }
            at += entry->NextEntryOffset;
        }
    }
    // A drive's empty root lists nothing at all, not even ".".
    const DWORD error = ::GetLastError();
    if (error != ERROR_NO_MORE_FILES && error != ERROR_FILE_NOT_FOUND) {
        return std::nullopt;
    }
    return names;
}

NTSTATUS setAttributes(HANDLE file, DWORD attributes) {
    FILE_BASIC_INFO basic{}; // times of 0 stay as they are
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    IO_STATUS_BLOCK io{};
    return ::NtSetInformationFile(file, &io, &basic, sizeof basic, kBasicInformation);
}

// Removes the name of the open `file`, a read-only one too, as unlink(2) does:
// at once, also while others hold it open (POSIX semantics, Windows 10 1809
// on NTFS). Elsewhere the name goes when its last handle closes, and the
// read-only attribute, which Windows holds against removal, is cleared first.
NTSTATUS removeOpened(HANDLE file) {
    IO_STATUS_BLOCK io{};
    ULONG flags = kDispositionDelete | kDispositionPosix | kDispositionIgnoreReadOnly;
    NTSTATUS status =
        ::NtSetInformationFile(file, &io, &flags, sizeof flags, kDispositionInformationEx);
    if (!unknownHere(status)) {
        return status;
    }
    FILE_BASIC_INFO basic{};
    status = ::NtQueryInformationFile(file, &io, &basic, sizeof basic, kBasicInformation);
    const bool readOnly =
        NT_SUCCESS(status) && (basic.FileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !NT_SUCCESS(status = setAttributes(file, basic.FileAttributes &
                                                                 ~FILE_ATTRIBUTE_READONLY))) {
        return status;
    }
    BOOLEAN remove = TRUE;
    status = ::NtSetInformationFile(file, &io, &remove, sizeof remove, kDispositionInformation);
    if (!NT_SUCCESS(status) && readOnly) {
        setAttributes(file, basic.FileAttributes); // the removal's failure is the one to tell
    }
    return status;
}

// Renames the open `file` to `name` in the open `folder`, replacing what is
// there as rename(2) does: for those who hold it open too, and a read-only
// file as well (Windows 10 1809 on NTFS); elsewhere as the older call can.
NTSTATUS renameOpened(HANDLE file, HANDLE folder, const std::wstring& name) {
    const std::size_t nameBytes = name.size() * sizeof(wchar_t);
    std::vector<std::uint64_t> buffer(
        (offsetof(RenameInformation, name) + nameBytes) / sizeof(std::uint64_t) + 1);
    auto* info = reinterpret_cast<RenameInformation*>(buffer.data());
    info->flags = kRenameReplace | kRenamePosix | kRenameIgnoreReadOnly;
    info->rootDirectory = folder;
    info->nameLength = static_cast<ULONG>(nameBytes);
    std::memcpy(info->name, name.data(), nameBytes);
    const ULONG size = static_cast<ULONG>(buffer.size() * sizeof(std::uint64_t));
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ::NtSetInformationFile(file, &io, info, size, kRenameInformationEx);
    if (!unknownHere(status)) {
        return status;
    }
    info->flags = TRUE;
    return ::NtSetInformationFile(file, &io, info, size, kRenameInformation);
}

// Removes `name` in `parent` and all below it, never following a link; false
// if something stayed.
bool removeIn(HANDLE parent, const std::string& name) {
    const Opened entry = openAt(parent, name, kRemovalAccess, FILE_OPEN, 0);
    if (!NT_SUCCESS(entry.status)) {
        return absentOnTheWay(entry.status);
    }
    const HANDLE handle = Descriptor::of(entry.handle);
    const std::optional<FILE_ATTRIBUTE_TAG_INFO> tag = tagOf(handle);
    if (!tag) {
        return false;
    }
    bool removed = true;
    if (isFolder(*tag) && !redirects(*tag)) {
        const Opened listing = openAt(handle, {}, kListAccess, FILE_OPEN, FILE_DIRECTORY_FILE);
        const std::optional<std::vector<std::string>> names =
            NT_SUCCESS(listing.status) ? namesIn(Descriptor::of(listing.handle)) : std::nullopt;
        removed = names.has_value();
        for (const std::string& inner : names.value_or(std::vector<std::string>())) {
            removed = removeIn(Descriptor::of(listing.handle), inner) && removed;
        }
    }
    return NT_SUCCESS(removeOpened(handle)) && removed;
}

// The folder that holds `path`: a drive's root as "C:/", not "C:", which
// names the current folder on that drive.
std::string holderOf(const std::string& path) {
    const std::string folder = folderOf(path);
    return folder.size() == 2 && folder[1] == ':' ? folder + '/' : folder;
}

// The final path of the open `file` as Win32 calls take it, "\\?\" first.
std::wstring finalPathOf(HANDLE file, const QString& action, const std::string& pathForErrors) {
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD length = ::GetFinalPathNameByHandleW(
            file, path.data(), static_cast<DWORD>(path.size()), FILE_NAME_NORMALIZED);
        if (length == 0) {
            throwWindowsError(::GetLastError(), action, pathForErrors);
        }
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length);
    }
}

// Whether `target`, seen from the folder at `folderPath`, is a folder now: a
// link to a folder must say so when it is made. One to nothing yet is made
// for a file.
bool leadsToFolder(const std::wstring& folderPath, const std::wstring& target) {
    const bool absolute = target.size() >= 2 && (target[1] == L':' || target[0] == L'\\');
    std::wstring seen = absolute ? target : folderPath + L'\\' + target;
    // Without the prefix, so that the system resolves the ".." of the target.
    if (!absolute && seen.rfind(L"\\\\?\\", 0) == 0) {
        seen = seen.rfind(L"\\\\?\\UNC\\", 0) == 0 ? L"\\\\" + seen.substr(8) : seen.substr(4);
    }
    const DWORD attributes = ::GetFileAttributesW(seen.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Whether the file system tells letter case apart in the open folder:
// Windows 10 can be told to in single folders; elsewhere no folder does.
bool tellsCaseApart(HANDLE folder) {
    ULONG flags = 0;
    if (::GetFileInformationByHandleEx(folder, kCaseSensitiveInfo, &flags, sizeof flags)) {
        return (flags & kCaseSensitiveFolder) != 0;
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_INVALID_PARAMETER || error == ERROR_NOT_SUPPORTED ||
        error == ERROR_INVALID_FUNCTION || error == ERROR_CALL_NOT_IMPLEMENTED) {
        return false;
    }
    throwWindowsError(error, kCannotOpen, {});
}

// The access list of a folder that only this user is to change, as mode 0700
// or 0755 keeps one on POSIX: this user, the system and the Administrators
// group have full control, passed on to all made in it, and nothing comes
// from the folder above it.
class OwnAccessList {
public:
    OwnAccessList(const QString& action, const std::string& pathForErrors);
    ~OwnAccessList() { ::LocalFree(list_); }
    OwnAccessList(const OwnAccessList&) = delete;
    OwnAccessList& operator=(const OwnAccessList&) = delete;

    // For a folder about to be made.
    PSECURITY_DESCRIPTOR descriptor() { return &descriptor_; }
    // Puts the list on the open folder in place of the one it has.
    void applyTo(HANDLE folder, const QString& action, const std::string& pathForErrors) const;

private:
    PACL list_ = nullptr;
    SECURITY_DESCRIPTOR descriptor_{};
};

EXPLICIT_ACCESSW fullControlFor(PSID sid) {
    EXPLICIT_ACCESSW entry{};
    entry.grfAccessPermissions = FILE_ALL_ACCESS;
    entry.grfAccessMode = SET_ACCESS;
    entry.grfInheritance = SUB_CONTAINERS_AND_OBJECTS_INHERIT;
    ::BuildTrusteeWithSidW(&entry.Trustee, sid);
    return entry;
}

OwnAccessList::OwnAccessList(const QString& action, const std::string& pathForErrors) {
    wchar_t currentUser[] = L"CURRENT_USER"; // the name the call takes for this user
    unsigned char sids[2][SECURITY_MAX_SID_SIZE];
    EXPLICIT_ACCESSW entries[3] = {};
    ::BuildExplicitAccessWithNameW(&entries[0], currentUser, FILE_ALL_ACCESS, SET_ACCESS,
                                   SUB_CONTAINERS_AND_OBJECTS_INHERIT);
    const WELL_KNOWN_SID_TYPE kinds[2] = {WinLocalSystemSid, WinBuiltinAdministratorsSid};
    for (int i = 0; i < 2; ++i) {
        DWORD size = sizeof sids[i];
        if (!::CreateWellKnownSid(kinds[i], nullptr, sids[i], &size)) {
            throwWindowsError(::GetLastError(), action, pathForErrors);
        }
        entries[i + 1] = fullControlFor(sids[i]);
    }
    const DWORD error = ::SetEntriesInAclW(3, entries, nullptr, &list_);
    if (error != ERROR_SUCCESS) {
        throwWindowsError(error, action, pathForErrors);
    }
    if (!::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) ||
        !::SetSecurityDescriptorDacl(&descriptor_, TRUE, list_, FALSE) ||
        !::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED)) {
        throwWindowsError(::GetLastError(), action, pathForErrors);
    }
}

void OwnAccessList::applyTo(HANDLE folder, const QString& action,
                            const std::string& pathForErrors) const {
    const Opened changing =
        openAt(folder, {}, READ_CONTROL | WRITE_DAC, FILE_OPEN, FILE_DIRECTORY_FILE);
    if (!NT_SUCCESS(changing.status)) {
        throwSystemError(errnoOfStatus(changing.status), action, pathForErrors);
    }
    const DWORD error =
        ::SetSecurityInfo(Descriptor::of(changing.handle), SE_FILE_OBJECT,
                          DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION, nullptr,
                          nullptr, list_, nullptr);
    if (error != ERROR_SUCCESS) {
        throwWindowsError(error, action, pathForErrors);
    }
}

// ".kavlento-bag-<process>-<random>": hidden as the program's other names of
// its own, and taken by nobody else.
std::string linkProbeName() {
    std::random_device random;
    return ".kavlento-bag-" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(random());
}

} // namespace

bool removeTree(const std::string& path) {
    const std::wstring holder = wide(holderOf(path));
    const UniqueFd parent =
        Descriptor::adopt(::CreateFileW(holder.c_str(), kPassAccess, kShareAll, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return parent.valid() && removeIn(Descriptor::of(parent), path.substr(path.rfind('/') + 1));
}

OpenFolder OpenFolder::open(const std::string& path, const QString& action, StepWatch* watch) {
    const std::wstring name = wide(path);
    const auto openWith = [&](ACCESS_MASK access) {
        return Descriptor::adopt(::CreateFileW(name.c_str(), access, kShareAll, nullptr,
                                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    };
    UniqueFd fd = openWith(kHeldAccess);
    if (!fd.valid() && ::GetLastError() == ERROR_ACCESS_DENIED) {
        fd = openWith(kPassAccess);
    }
    if (!fd.valid()) {
        throwWindowsError(::GetLastError(), action, path);
    }
    if (!isFolder(requireTag(Descriptor::of(fd), action, path))) {
        throwSystemError(ENOTDIR, action, path);
    }
    return OpenFolder(std::move(fd), path, watch);
}

std::optional<OpenFolder> OpenFolder::folder(std::string_view relative) const {
    std::optional<UniqueFd> fd = openBelow(Descriptor::of(fd_), relative, kHeldAccess, path_);
    if (!fd) {
        return std::nullopt;
    }
    return OpenFolder(std::move(*fd), pathOf(relative), watch_);
}

std::optional<OpenFolder::Parent> OpenFolder::parentOf(std::string_view relative) const {
    const std::size_t slash = relative.rfind('/');
    const std::string_view name = relative.substr(slash + 1);
    if (!isPlainName(name)) {
        return std::nullopt;
    }
    if (slash == std::string_view::npos) {
        return Parent{UniqueFd(), &fd_, name};
    }
    std::optional<UniqueFd> fd =
        openBelow(Descriptor::of(fd_), relative.substr(0, slash), kPassAccess, path_);
    if (!fd) {
        return std::nullopt;
    }
    return Parent{std::move(*fd), nullptr, name};
}

// Windows compares names as its file systems do: by the system's table of
// capitals, which NTFS copies onto each volume it formats. Unlike Qt's case
// folding, that table keeps the Turkish dotless ı and dotted İ letters of
// their own, apart from i and I.
bool OpenFolder::sameName(std::string_view relative, std::string_view a, std::string_view b) const {
    if (a == b) {
        return true;
    }
    const std::wstring first = wide(std::string(a));
    const std::wstring second = wide(std::string(b));
    if (::CompareStringOrdinal(first.data(), static_cast<int>(first.size()), second.data(),
                               static_cast<int>(second.size()), TRUE) != CSTR_EQUAL) {
        return false;
    }
    const std::optional<OpenFolder> in = folder(relative);
    return in && !tellsCaseApart(Descriptor::of(in->fd_));
}

// Windows has no flag that keeps even the administrator from removing a
// file; what stands in for one is an access list that denies removing it.
bool OpenFolder::isFixed(std::string_view relative) const {
    const std::optional<Parent> parent = parentOf(relative);
    return parent && openAt(Descriptor::of(parent->folder()), std::string(parent->name),
                            DELETE | SYNCHRONIZE, FILE_OPEN, 0)
                             .status == kAccessDenied;
}

// The system's own check of this user's rights: an open to make names in the
// folder. Nothing here ever widens an access list, so the owner's right to
// do so does not count.
bool OpenFolder::canChange(std::string_view relative) const {
    const std::optional<OpenFolder> in = folder(relative);
    return in && NT_SUCCESS(openAt(Descriptor::of(in->fd_), {},
                                   FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY | SYNCHRONIZE, FILE_OPEN,
                                   FILE_DIRECTORY_FILE)
                                .status);
}

std::vector<std::string> OpenFolder::names(const QString& action) const {
    const UniqueFd listing = reopen(action);
    std::optional<std::vector<std::string>> names = namesIn(Descriptor::of(listing));
    if (!names) {
        throwWindowsError(::GetLastError(), action, path_);
    }
    return std::move(*names);
}

std::optional<std::string> OpenFolder::readLink(std::string_view relative,
                                                const QString& action) const {
    const std::optional<Parent> parent = parentOf(relative);
    if (!parent) {
        return std::nullopt;
    }
    const Opened link = openAt(Descriptor::of(parent->folder()), std::string(parent->name),
                               FILE_READ_ATTRIBUTES, FILE_OPEN, 0);
    if (!NT_SUCCESS(link.status)) {
        if (absentOnTheWay(link.status)) {
            return std::nullopt;
        }
        throwSystemError(errnoOfStatus(link.status), action, pathOf(relative));
    }
    return linkTargetOf(Descriptor::of(link.handle), pathOf(relative), action);
}

PathInfo OpenFolder::lookUp(std::string_view relative) const {
    if (relative.empty()) {
        return lookUpHandle(Descriptor::of(fd_), path_);
    }
    const std::optional<Parent> parent = parentOf(relative);
    return parent ? lookUpIn(Descriptor::of(parent->folder()), std::string(parent->name),
                             pathOf(relative))
                  : PathInfo{};
}

// Only a file's write bits have a counterpart on Windows: the read-only
// attribute.
UniqueFd OpenFolder::createFile(std::string_view relative, std::uint32_t mode) const {
    const QString action = QStringLiteral("Dosya oluşturulamadı");
    tell(Step::NewFile, relative);
    const Parent parent = requireParent(relative, action);
    Opened file = openAt(Descriptor::of(parent.folder()), std::string(parent.name),
                         GENERIC_READ | GENERIC_WRITE, FILE_CREATE, FILE_NON_DIRECTORY_FILE,
                         (mode & 0222) == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL);
    if (!NT_SUCCESS(file.status)) {
        throwSystemError(errnoOfStatus(file.status), action, pathOf(relative));
    }
    return std::move(file.handle);
}

std::optional<UniqueFd> OpenFolder::openForReading(std::string_view relative) const {
    const QString action = QStringLiteral("Dosya okunamadı");
    const std::optional<Parent> parent = parentOf(relative);
    if (!parent) {
        return std::nullopt;
    }
    Opened file = openAt(Descriptor::of(parent->folder()), std::string(parent->name), GENERIC_READ,
                         FILE_OPEN, FILE_NON_DIRECTORY_FILE);
    if (!NT_SUCCESS(file.status)) {
        if (absentOnTheWay(file.status)) {
            return std::nullopt;
        }
        throwSystemError(errnoOfStatus(file.status), action, pathOf(relative));
    }
    if (redirects(requireTag(Descriptor::of(file.handle), action, pathOf(relative)))) {
        return std::nullopt;
    }
    return std::move(file.handle);
}

// A folder's mode has no counterpart on Windows: its read-only attribute
// keeps nothing from being made or removed in it (Explorer takes it for a
// mark of a customised folder).
void OpenFolder::makeFolder(std::string_view relative, std::uint32_t, const QString& action) const {
    tell(Step::MakeFolder, relative);
    const Parent parent = requireParent(relative, action);
    const Opened made = openAt(Descriptor::of(parent.folder()), std::string(parent.name),
                               kPassAccess, FILE_CREATE, FILE_DIRECTORY_FILE);
    if (!NT_SUCCESS(made.status)) {
        throwSystemError(errnoOfStatus(made.status), action, pathOf(relative));
    }
}

// A folder's mode has no counterpart on Windows: the folder gets an access
// list of its own instead, closed to others (FAT and exFAT keep none).
OpenFolder OpenFolder::ownFolder(const std::string& name, std::uint32_t,
                                 const QString& action) const {
    OwnAccessList closed(action, pathOf(name));
    Opened folder;
    folder.status = kNameInvalid;
    if (isPlainName(name)) {
        folder = openAt(Descriptor::of(fd_), name, kHeldAccess, FILE_OPEN_IF, FILE_DIRECTORY_FILE,
                        0, closed.descriptor());
    }
    if (!NT_SUCCESS(folder.status)) {
        // A file where the folder goes is nothing to write through.
        throwSystemError(folder.status == kNotADirectory ? EEXIST : errnoOfStatus(folder.status),
                         action, pathOf(name));
    }
    if (redirects(requireTag(Descriptor::of(folder.handle), action, pathOf(name)))) {
        throwSystemError(EEXIST, action, pathOf(name)); // nor is a link
    }
    const PathInfo info = lookUpHandle(Descriptor::of(folder.handle), pathOf(name));
    const bool mine = folder.outcome == FILE_CREATED || info.owner == effectiveUser();
    // The administrator's folders are taken as they are; whoever owns the
    // folder it lies in could replace it anyway.
    const bool trusted =
        info.owner == 0 || (info.owner == lookUp().owner && (info.mode & 022) == 0);
    if (!mine && !trusted) {
        throw Failure(FailureCode::PathFileAccess,
                      QStringLiteral("%1: bu klasör başka bir kullanıcının ya da başka "
                                     "kullanıcılar ona yazabiliyor; oraya yazılan bir yedeği "
                                     "başkası değiştirebilirdi. Klasörü silin ya da adını "
                                     "değiştirin, sonra yeniden deneyin: %2")
                          .arg(action, fromSystemPath(pathOf(name))));
    }
    if (mine && (info.mode & 022) != 0) {
        closed.applyTo(Descriptor::of(folder.handle), action, pathOf(name));
    }
    return OpenFolder(std::move(folder.handle), pathOf(name), watch_);
}

void OpenFolder::makeFolders(std::string_view relative, const QString& action) const {
    UniqueFd current;
    HANDLE at = Descriptor::of(fd_);
    for (std::size_t start = 0; start < relative.size();) {
        const std::size_t end = std::min(relative.find('/', start), relative.size());
        const std::string_view name = relative.substr(start, end - start);
        const std::string path = pathOf(relative.substr(0, end));
        if (!isPlainName(name)) {
            throwSystemError(EINVAL, action, path);
        }
        Opened folder =
            openAt(at, std::string(name), kPassAccess, FILE_OPEN_IF, FILE_DIRECTORY_FILE);
        if (!NT_SUCCESS(folder.status)) {
            throwSystemError(errnoOfStatus(folder.status), action, path);
        }
        if (redirects(requireTag(Descriptor::of(folder.handle), action, path))) {
            throwSystemError(ELOOP, action, path);
        }
        current = std::move(folder.handle);
        at = Descriptor::of(current);
        start = end + 1;
    }
}

// A probe, as whether a link can be made depends on this user's rights,
// developer mode and the file system (FAT has no links). The link is looked
// at by handle, as Wine says it made one where it made nothing, and removed
// at once.
bool OpenFolder::canMakeLinks() const {
    const QString action = QStringLiteral("Sembolik bağlantı denenemedi");
    const std::string name = linkProbeName();
    const std::wstring link = finalPathOf(Descriptor::of(fd_), action, path_) + L'\\' + wide(name);
    if (!::CreateSymbolicLinkW(link.c_str(), wide(name + ".yok").c_str(),
                               SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE)) {
        return false;
    }
    const Opened made = openAt(Descriptor::of(fd_), name, kRemovalAccess, FILE_OPEN, 0);
    if (absentOnTheWay(made.status)) {
        return false;
    }
    if (!NT_SUCCESS(made.status)) {
        throwSystemError(errnoOfStatus(made.status), action, pathOf(name));
    }
    const std::optional<FILE_ATTRIBUTE_TAG_INFO> tag = tagOf(Descriptor::of(made.handle));
    const NTSTATUS removal = removeOpened(Descriptor::of(made.handle));
    if (!NT_SUCCESS(removal)) {
        throwSystemError(errnoOfStatus(removal), action, pathOf(name));
    }
    return tag && redirects(*tag);
}

// Windows makes a symbolic link only for an administrator, or for anyone in
// developer mode. The link is looked at afterwards: Wine says it made one
// where it made nothing.
void OpenFolder::makeLink(const std::string& target, std::string_view relative,
                          const QString& action) const {
    tell(Step::NewFile, relative);
    const Parent parent = requireParent(relative, action);
    const std::string path = pathOf(relative);
    const std::wstring folderPath = finalPathOf(Descriptor::of(parent.folder()), action, path);
    const std::wstring to = wide(target);
    const std::wstring link = folderPath + L'\\' + wide(std::string(parent.name));
    const DWORD flags = SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE |
                        (leadsToFolder(folderPath, to) ? SYMBOLIC_LINK_FLAG_DIRECTORY : 0);
    if (!::CreateSymbolicLinkW(link.c_str(), to.c_str(), flags)) {
        const DWORD error = ::GetLastError();
        if (error != ERROR_PRIVILEGE_NOT_HELD) {
            throwWindowsError(error, action, path);
        }
        throw Failure(FailureCode::PermissionDenied,
                      QStringLiteral("%1: Windows bu kullanıcının sembolik bağlantı oluşturmasına "
                                     "izin vermiyor (Geliştirici Modu'nu açın ya da yönetici "
                                     "olarak çalıştırın): %2")
                          .arg(action, fromSystemPath(path)));
    }
    const Opened made = openAt(Descriptor::of(parent.folder()), std::string(parent.name),
                               FILE_READ_ATTRIBUTES, FILE_OPEN, 0);
    const std::optional<FILE_ATTRIBUTE_TAG_INFO> tag =
        NT_SUCCESS(made.status) ? tagOf(Descriptor::of(made.handle)) : std::nullopt;
    if (!tag || !redirects(*tag)) {
        throw Failure(FailureCode::PathFileAccess,
                      QStringLiteral("%1: sistem sembolik bağlantıyı oluşturmadı: %2")
                          .arg(action, fromSystemPath(path)));
    }
}

// A link has no mode of its own.
void OpenFolder::setLinkTime(std::string_view relative, Timestamp modified,
                             const QString& action) const {
    const Parent parent = requireParent(relative, action);
    const Opened link = openAt(Descriptor::of(parent.folder()), std::string(parent.name),
                               FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, FILE_OPEN, 0);
    if (!NT_SUCCESS(link.status)) {
        throwSystemError(errnoOfStatus(link.status), action, pathOf(relative));
    }
    setModeAndTime(link.handle, 0755, modified, pathOf(relative), action);
}

// Only the time changes: a folder's mode has no counterpart on Windows.
void OpenFolder::changeFolder(std::string_view relative, std::uint32_t mode,
                              std::optional<Timestamp> modified, const QString& action) const {
    const Parent parent = requireParent(relative, action);
    const std::string name(parent.name);
    if (lookUpIn(Descriptor::of(parent.folder()), name, pathOf(relative)).kind !=
        PathKind::Folder) {
        throwSystemError(ENOTDIR, action, pathOf(relative));
    }
    tell(Step::ModeChange, relative);
    if (!modified) {
        return;
    }
    const Opened folder =
        openAt(Descriptor::of(parent.folder()), name, FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
               FILE_OPEN, FILE_DIRECTORY_FILE);
    if (!NT_SUCCESS(folder.status)) {
        throwSystemError(errnoOfStatus(folder.status), action, pathOf(relative));
    }
    setModeAndTime(folder.handle, mode, *modified, pathOf(relative), action);
}

// Nothing to give: on Windows no right of the owner's stands in the way of
// changing a folder's names that a restore could have taken away.
void OpenFolder::makeFolderWritable(std::string_view, const QString&) const {}

void OpenFolder::rename(std::string_view from, const OpenFolder& into, std::string_view to,
                        const QString& action) const {
    tell(Step::Rename, from, &into, to);
    const Parent source = requireParent(from, action);
    const Parent target = into.requireParent(to, action);
    const Opened moving =
        openAt(Descriptor::of(source.folder()), std::string(source.name), DELETE, FILE_OPEN, 0);
    if (!NT_SUCCESS(moving.status)) {
        throwSystemError(errnoOfStatus(moving.status), action, pathOf(from));
    }
    const NTSTATUS status =
        renameOpened(Descriptor::of(moving.handle), Descriptor::of(target.folder()),
                     wide(std::string(target.name)));
    if (!NT_SUCCESS(status)) {
        throwSystemError(errnoOfStatus(status), action, into.pathOf(to));
    }
}

void OpenFolder::removeFile(std::string_view relative, const QString& action) const {
    tell(Step::Removal, relative);
    const Parent parent = requireParent(relative, action);
    const Opened file = openAt(Descriptor::of(parent.folder()), std::string(parent.name),
                               kRemovalAccess, FILE_OPEN, 0);
    if (!NT_SUCCESS(file.status)) {
        throwSystemError(errnoOfStatus(file.status), action, pathOf(relative));
    }
    // A link to a folder goes as a file does, as unlink(2) takes it.
    const FILE_ATTRIBUTE_TAG_INFO tag =
        requireTag(Descriptor::of(file.handle), action, pathOf(relative));
    if (isFolder(tag) && !redirects(tag)) {
        throwSystemError(EISDIR, action, pathOf(relative));
    }
    const NTSTATUS status = removeOpened(Descriptor::of(file.handle));
    if (!NT_SUCCESS(status)) {
        throwSystemError(errnoOfStatus(status), action, pathOf(relative));
    }
}

bool OpenFolder::removeEmptyFolder(std::string_view relative) const {
    tell(Step::Removal, relative);
    const std::optional<Parent> parent = parentOf(relative);
    if (!parent) {
        return false;
    }
    const Opened folder = openAt(Descriptor::of(parent->folder()), std::string(parent->name),
                                 kRemovalAccess, FILE_OPEN, FILE_DIRECTORY_FILE);
    if (!NT_SUCCESS(folder.status)) {
        return false;
    }
    const std::optional<FILE_ATTRIBUTE_TAG_INFO> tag = tagOf(Descriptor::of(folder.handle));
    return tag && !redirects(*tag) && NT_SUCCESS(removeOpened(Descriptor::of(folder.handle)));
}

bool OpenFolder::removeTree(std::string_view relative) const {
    tell(Step::RemovalOfTree, relative);
    const std::optional<Parent> parent = parentOf(relative);
    return !parent || removeIn(Descriptor::of(parent->folder()), std::string(parent->name));
}

UniqueFd OpenFolder::reopen(const QString& action) const {
    Opened folder = openAt(Descriptor::of(fd_), {}, kListAccess, FILE_OPEN, FILE_DIRECTORY_FILE);
    if (!NT_SUCCESS(folder.status)) {
        throwSystemError(errnoOfStatus(folder.status), action, path_);
    }
    return std::move(folder.handle);
}

// Windows has no call that writes one folder's names to the disk: NTFS logs
// every change of names in its journal, which it writes out itself.
void OpenFolder::sync() const {
    tell(Step::Sync, {});
}

// Flushing a whole volume takes an administrator's handle to it; every file
// is made durable by itself (syncFile), and NTFS's journal holds the names.
void OpenFolder::syncFileSystem() const {
    tell(Step::SyncFileSystem, {});
}

// What this user may still write: his disk quota counted.
std::optional<std::uint64_t> OpenFolder::availableBytes() const {
    FsFullSizeInformation size{};
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = ::NtQueryVolumeInformationFile(Descriptor::of(fd_), &io, &size,
                                                           sizeof size, kFsFullSizeInformation);
    if (!NT_SUCCESS(status)) {
        throwSystemError(errnoOfStatus(status), QStringLiteral("Disk bilgisi okunamadı"), path_);
    }
    if (size.totalUnits.QuadPart == 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(size.callerAvailableUnits.QuadPart) * size.sectorsPerUnit *
           size.bytesPerSector;
}

// Windows files have no group that a new file takes from its folder.
std::uint32_t OpenFolder::groupOfNewFiles() const {
    return 0;
}

} // namespace kavlento::fs
