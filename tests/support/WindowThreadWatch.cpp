#include "support/WindowThreadWatch.h"

#include <QCoreApplication>
#include <QFile>
#include <QMetaObject>

#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

namespace kavlento::testing {

namespace {
// Far beyond what an idle event loop takes to handle one event, even on a
// machine under load: only a thread that waits for itself gets near it.
constexpr auto kAnswerWithin = std::chrono::seconds(20);

[[noreturn]] void cannot(const std::string& what) {
    throw std::runtime_error("fanotify: " + what + ": " + std::strerror(errno));
}
} // namespace

WindowThreadWatch::WindowThreadWatch(const std::vector<QString>& paths) {
    fanotify_ = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE);
    if (fanotify_ < 0) {
        cannot("init");
    }
    for (const QString& path : paths) {
        if (::fanotify_mark(fanotify_, FAN_MARK_ADD, FAN_OPEN_PERM | FAN_ONDIR, AT_FDCWD,
                            QFile::encodeName(path).constData()) != 0) {
            cannot("mark " + path.toStdString());
        }
    }
    if (::pipe2(stop_, O_CLOEXEC) != 0) {
        cannot("pipe");
    }
    watcher_ = std::thread([this] { watch(); });
}

WindowThreadWatch::~WindowThreadWatch() {
    [[maybe_unused]] const ssize_t written = ::write(stop_[1], "x", 1);
    watcher_.join();
    ::close(stop_[0]);
    ::close(stop_[1]);
    ::close(fanotify_); // any opening still held is let go
}

QStringList WindowThreadWatch::openedOnTheWindowThread() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return blocked_;
}

bool WindowThreadWatch::windowThreadAnswers() const {
    auto answered = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [answered] { *answered = true; }, Qt::QueuedConnection);
    const auto until = std::chrono::steady_clock::now() + kAnswerWithin;
    while (!*answered && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return *answered;
}

void WindowThreadWatch::watch() {
    alignas(fanotify_event_metadata) char buffer[4096];
    pollfd waiting[2] = {{fanotify_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
    while (::poll(waiting, 2, -1) >= 0 && (waiting[1].revents & POLLIN) == 0) {
        const ssize_t n = ::read(fanotify_, buffer, sizeof buffer);
        auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
        for (ssize_t left = n; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
            if ((event->mask & FAN_OPEN_PERM) != 0) {
                if (event->pid == ::getpid()) {
                    ++openings_;
                    const bool waitedBefore = !openedOnTheWindowThread().isEmpty();
                    if (waitedBefore || !windowThreadAnswers()) {
                        const std::lock_guard<std::mutex> lock(mutex_);
                        blocked_.append(QFile::symLinkTarget(
                            QStringLiteral("/proc/self/fd/%1").arg(event->fd)));
                    }
                }
                const fanotify_response allow{event->fd, FAN_ALLOW};
                [[maybe_unused]] const ssize_t written = ::write(fanotify_, &allow, sizeof allow);
            }
            if (event->fd >= 0) {
                ::close(event->fd);
            }
        }
    }
}

} // namespace kavlento::testing
