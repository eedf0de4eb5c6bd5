#include "support/StepFaults.h"

#include "fs/File.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <filesystem>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace kavlento::testing {

namespace {

[[noreturn]] void fail(const fs::Change& change) {
    fs::throwSystemError(EIO, QStringLiteral("Denemede istenen hata"), change.path);
}

#ifndef _WIN32
std::string folderOf(const std::string& path) {
    return path.substr(0, path.rfind('/'));
}
#endif

} // namespace

FailingStep::FailingStep(fs::Step step, int count, std::function<void()> instead)
    : step_(step), remaining_(count), instead_(std::move(instead)) {}

void FailingStep::before(const fs::Change& change) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (change.step != step_ || remaining_ == 0 || --remaining_ > 0) {
        return;
    }
    if (instead_) {
        instead_();
        return;
    }
    fail(change);
}

bool FailingStep::reached() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return remaining_ == 0;
}

#ifndef _WIN32 // the power cut keeps what it takes with POSIX links
PowerCut::PowerCut(int count, QString stash)
    : remaining_(count), stash_(QFile::encodeName(stash).toStdString()) {}

bool PowerCut::reached() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return cut_;
}

std::string PowerCut::keepAside(const std::string& path, bool move) {
    const std::string kept = stash_ + "/" + std::to_string(++kept_);
    const int done = move ? ::rename(path.c_str(), kept.c_str())
                          : ::linkat(AT_FDCWD, path.c_str(), AT_FDCWD, kept.c_str(), 0);
    return done == 0 ? kept : std::string();
}

void PowerCut::synced(const std::string& folder) {
    for (Pending& p : pending_) {
        const fs::Change& c = p.change;
        // A mode is the folder's own: only its own sync keeps it.
        p.inFolder = p.inFolder || (c.step == fs::Step::ModeChange ? c.path == folder
                                                                   : folderOf(c.path) == folder);
        p.intoFolder = p.intoFolder || c.to.empty() || folderOf(c.to) == folder;
    }
}

void PowerCut::before(const fs::Change& change) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (cut_ || --remaining_ == 0) {
        cut_ = true;
        fail(change);
    }
    struct stat info {};
    const bool there = ::lstat(change.path.c_str(), &info) == 0;
    Pending pending{change, {}, there ? info.st_mode & 07777u : 0u, there && S_ISDIR(info.st_mode)};
    switch (change.step) {
    case fs::Step::Rename:
        if (::lstat(change.to.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
            pending.kept = keepAside(change.to, false);
        }
        break;
    case fs::Step::Removal:
        if (there && !S_ISDIR(info.st_mode)) {
            pending.kept = keepAside(change.path, false);
        }
        break;
    case fs::Step::RemovalOfTree:
        // Taken whole now, so that it can come back whole.
        pending.kept = there ? keepAside(change.path, true) : std::string();
        break;
    case fs::Step::SyncFile:
        for (Pending& p : pending_) {
            p.content = p.content || p.change.path == change.path;
        }
        return;
    case fs::Step::Sync:
        synced(change.path);
        return;
    case fs::Step::SyncFileSystem:
        for (const Pending& p : pending_) {
            durable_.push_back(p.change);
        }
        pending_.clear();
        return;
    case fs::Step::ModeChange:
    case fs::Step::MakeFolder:
    case fs::Step::NewFile:
        break;
    }
    pending_.push_back(std::move(pending));
}

bool PowerCut::kept(fs::Step step, const std::string& name) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto named = [&](const fs::Change& c) {
        return c.step == step && c.path.size() > name.size() &&
               c.path.compare(c.path.size() - name.size() - 1, std::string::npos, "/" + name) == 0;
    };
    return std::any_of(durable_.begin(), durable_.end(), named) ||
           std::any_of(pending_.begin(), pending_.end(), [&](const Pending& p) {
               return p.inFolder && p.intoFolder && named(p.change);
           });
}

void PowerCut::loseWhatWasNotSynced() {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::error_code ignored;
    for (auto it = pending_.rbegin(); it != pending_.rend(); ++it) {
        const fs::Change& c = it->change;
        const char* path = c.path.c_str();
        const bool named = it->inFolder && it->intoFolder;
        switch (c.step) {
        case fs::Step::Rename:
            if (!named) {
                ::rename(c.to.c_str(), path);
                if (!it->kept.empty()) {
                    ::link(it->kept.c_str(), c.to.c_str());
                }
            }
            break;
        case fs::Step::Removal:
            if (!named && !it->kept.empty()) {
                ::link(it->kept.c_str(), path);
            } else if (!named && it->folder) {
                ::mkdir(path, it->mode);
            }
            break;
        case fs::Step::RemovalOfTree:
            if (!named && !it->kept.empty()) {
                ::rename(it->kept.c_str(), path);
            }
            break;
        case fs::Step::ModeChange:
            if (!it->inFolder) {
                ::chmod(path, it->mode);
            }
            break;
        case fs::Step::MakeFolder:
            if (!named) {
                std::filesystem::remove_all(c.path, ignored);
            }
            break;
        case fs::Step::NewFile:
            if (!named) {
                ::unlink(path);
            } else if (!it->content) {
                ::truncate(path, 0);
            }
            break;
        case fs::Step::SyncFile:
        case fs::Step::Sync:
        case fs::Step::SyncFileSystem:
            break;
        }
    }
    pending_.clear();
}
#endif

} // namespace kavlento::testing
