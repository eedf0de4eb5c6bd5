#include "support/ArchiveTestSupport.h"

#include <QDir>

#include <stdexcept>

#include <windows.h>

#include <aclapi.h>

namespace kavlento::testing {

void grantWriteToOthers(const QString& path) {
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    PACL old = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (::GetNamedSecurityInfoW(name.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &old, nullptr, &descriptor) != ERROR_SUCCESS) {
        throw std::runtime_error("read the access list of " + path.toStdString());
    }
    BYTE everyone[SECURITY_MAX_SID_SIZE];
    DWORD size = sizeof everyone;
    ::CreateWellKnownSid(WinWorldSid, nullptr, everyone, &size);
    EXPLICIT_ACCESSW access{};
    access.grfAccessPermissions = FILE_GENERIC_WRITE;
    access.grfAccessMode = GRANT_ACCESS;
    access.Trustee.TrusteeForm = TRUSTEE_IS_SID;
    access.Trustee.ptstrName = reinterpret_cast<LPWSTR>(everyone);
    PACL updated = nullptr;
    const bool done = ::SetEntriesInAclW(1, &access, old, &updated) == ERROR_SUCCESS &&
                      ::SetNamedSecurityInfoW(const_cast<wchar_t*>(name.c_str()), SE_FILE_OBJECT,
                                              DACL_SECURITY_INFORMATION, nullptr, nullptr, updated,
                                              nullptr) == ERROR_SUCCESS;
    ::LocalFree(updated);
    ::LocalFree(descriptor);
    if (!done) {
        throw std::runtime_error("let others write to " + path.toStdString());
    }
}

} // namespace kavlento::testing
