#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kavlento {

// Ends an unattended run whose user-interface thread stops answering: Qt
// waits for a display without a limit, so an X server that takes a connection
// and then never answers, or that stops answering while the progress window
// is drawn, would otherwise hold a scheduled backup for ever. The thread must
// beat() at least once every `limit`, from the moment the watchdog is made;
// when it does not, `rescue` runs on the watchdog's own thread, once, and
// ends the process.
class Watchdog {
public:
    using Rescue = std::function<void()>;

    Watchdog(std::chrono::milliseconds limit, Rescue rescue);
    ~Watchdog();
    Watchdog(const Watchdog&) = delete;
    Watchdog& operator=(const Watchdog&) = delete;

    void beat();
    // What to do once the rest of the program is there to do more.
    void setRescue(Rescue rescue);
    // No display can stall the run any more (it runs offscreen).
    void stop();

private:
    void watch();

    std::chrono::milliseconds limit_;
    Rescue rescue_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::chrono::steady_clock::time_point lastBeat_;
    bool stopped_ = false;
    std::thread thread_; // last: it starts once the rest is there
};

} // namespace kavlento
