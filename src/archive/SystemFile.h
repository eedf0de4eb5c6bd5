#pragma once

#include <QString>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kavlento::archive {

// Paths inside the engine are the system's own bytes (UTF-8 on Linux).
std::string toSystemPath(const QString& path);
QString fromSystemPath(std::string_view path);

// Throws the Failure for the current errno, naming `path`.
[[noreturn]] void throwSystemError(const QString& action, const std::string& path);
[[noreturn]] void throwSystemError(int error, const QString& action, const std::string& path);

// An open file descriptor, closed when it goes.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release();
    // Closes now and reports a failed close, which can carry a delayed write error.
    void close(const std::string& pathForErrors);

private:
    int fd_ = -1;
};

// Reads exactly `size` bytes at `offset`; throws on an error or a short read.
void readExactly(int fd, std::uint64_t offset, void* buffer, std::size_t size,
                 const std::string& path);
// Writes all of `size` bytes at `offset`.
void writeAllAt(int fd, std::uint64_t offset, const void* buffer, std::size_t size,
                const std::string& path);
void syncFile(int fd, const std::string& path);
// Makes renames and new names in `folder` durable.
void syncFolder(const std::string& folder);

// Throws unless `path` is an existing folder (links followed).
void requireFolder(const std::string& path, const QString& action);

std::string joinPath(const std::string& folder, std::string_view relative);

} // namespace kavlento::archive
