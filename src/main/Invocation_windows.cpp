#include "main/Invocation.h"

#include "base/Failure.h"
#include "fs/Descriptor_windows.h"

#include <shellapi.h>

#include <cerrno>
#include <cstdio>
#include <memory>

namespace kavlento {

namespace {

struct LocalFreer {
    void operator()(LPWSTR* words) const { LocalFree(words); }
};

// Whether the host handed the process somewhere to write to (a file, a pipe,
// a console) as `which` (STD_OUTPUT_HANDLE, STD_ERROR_HANDLE).
bool hasStandardHandle(DWORD which) {
    const HANDLE handle = GetStdHandle(which);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
           GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

// The console of the process that started this one. A process that has one
// already (Wine gives it to a window program started from a console) keeps it.
bool reachTheParentsConsole() {
    return AttachConsole(ATTACH_PARENT_PROCESS) || GetLastError() == ERROR_ACCESS_DENIED;
}

void writeToConsole(FILE* stream) {
    if (std::freopen("CONOUT$", "w", stream) == nullptr) {
        throw systemFailure(errno, QStringLiteral("Komut penceresine yazma hazırlanamadı"),
                            QStringLiteral("CONOUT$"));
    }
}

} // namespace

// The C runtime's argv is in the ANSI code page, which lacks letters the
// words may have (the ı of --yardım where it is not Turkish): the system's
// own UTF-16 command line has them all.
QStringList argumentsAfterProgramName(int /*argc*/, char** /*argv*/) {
    int count = 0;
    const std::unique_ptr<LPWSTR, LocalFreer> words(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!words) {
        const DWORD error = GetLastError();
        fs::throwWindowsError(error, QStringLiteral("Komut satırı okunamadı"), std::string());
    }
    QStringList arguments;
    for (int i = 1; i < count; ++i) {
        arguments.append(QString::fromWCharArray(words.get()[i]));
    }
    return arguments;
}

// A window program has no console of its own, so that starting it opens no
// console window. Streams redirected to a file or pipe arrive as handles and
// are kept; the others go to the console of the cmd.exe or PowerShell that
// started it, if there is one (from Explorer or a scheduler there is none,
// and the lines have nowhere to go, as with a window program anywhere).
void reachTheCallersOutput() {
    const bool output = hasStandardHandle(STD_OUTPUT_HANDLE);
    const bool error = hasStandardHandle(STD_ERROR_HANDLE);
    if ((output && error) || !reachTheParentsConsole()) {
        return;
    }
    if (!output) {
        writeToConsole(stdout);
    }
    if (!error) {
        writeToConsole(stderr);
    }
    // The lines are bytes in the ANSI code page (toLocal8Bit) and a console
    // reads them in its output code page, OEM by default (857 beside 1254):
    // every Turkish letter would come out wrong. The console keeps the ANSI
    // page after the program, which ends on paths (_Exit) that leave no step
    // to set it back; the lesser harm, as cmd.exe and PowerShell write their
    // own text in UTF-16, which no page changes.
    if (!SetConsoleOutputCP(GetACP())) {
        const DWORD failure = GetLastError();
        fs::throwWindowsError(
            failure, QStringLiteral("Komut penceresinin kod sayfası ayarlanamadı"), std::string());
    }
}

} // namespace kavlento
