#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace kavlento::testing {

// Holds every opening of the given files and folders (by any thread of this
// process) until the user-interface thread has handled an event. An opening
// made on that thread waits for itself: the watch lets it go after a while
// and counts it as made while the window could not be drawn. Uses fanotify,
// so it needs root; the constructor throws where it cannot watch.
class WindowThreadWatch {
public:
    explicit WindowThreadWatch(const std::vector<QString>& paths);
    ~WindowThreadWatch();
    WindowThreadWatch(const WindowThreadWatch&) = delete;
    WindowThreadWatch& operator=(const WindowThreadWatch&) = delete;

    int openings() const { return openings_; }
    // The paths opened on the user-interface thread (after the first, the
    // watch stops waiting, so that a failing test ends soon).
    QStringList openedOnTheWindowThread() const;

private:
    void watch();
    bool windowThreadAnswers() const;

    int fanotify_ = -1;
    int stop_[2] = {-1, -1};
    std::atomic<int> openings_{0};
    mutable std::mutex mutex_;
    QStringList blocked_;
    std::thread watcher_;
};

} // namespace kavlento::testing
