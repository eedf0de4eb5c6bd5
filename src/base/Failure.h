#pragma once

#include <QString>

#include <exception>
#include <string>

namespace kavlento {

// Error numbers shown to the user. They follow the numbering that the host
// application's users already know from its own error boxes.
enum class FailureCode : int {
    OutOfMemory = 7,
    BadFileName = 52,
    FileNotFound = 53,
    DeviceIoError = 57,
    DiskFull = 61,
    InputPastEnd = 62,
    PermissionDenied = 70,
    PathFileAccess = 75,
    PathNotFound = 76,
    InvalidArchive = 321,
    WrongPassword = 322,
    UnsafeArchive = 323,
    Cancelled = 325,
    AlreadyBusy = 326,
    UnsupportedText = 327,
    // A backup that clearly cannot fit on the target's disk, refused before
    // anything is written: its description gives both figures, which the
    // text for a disk that filled up (DiskFull) would not.
    DiskTooFull = 328,
    Unexpected = 440,
};

// A failure that no handler catches: it carries a number and a description and
// ends in one error box followed by the end of the program.
class Failure : public std::exception {
public:
    Failure(FailureCode code, QString description);

    FailureCode code() const { return code_; }
    int number() const { return static_cast<int>(code_); }
    const QString& description() const { return description_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    FailureCode code_;
    QString description_;
    std::string utf8_;
};

// The failure for a system call that set `error` (an errno value) while doing
// `action`, e.g. "yedekleme.lst okunamadı".
Failure systemFailure(int error, const QString& action, const QString& path);

// `text`, or its start and end around an ellipsis when it is longer than `most`.
QString shortened(const QString& text, qsizetype most);

// A short Turkish text for an errno value.
QString describeSystemError(int error);

} // namespace kavlento
