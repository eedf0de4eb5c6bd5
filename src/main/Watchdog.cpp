#include "main/Watchdog.h"

namespace kavlento {

Watchdog::Watchdog(std::chrono::milliseconds limit, Rescue rescue)
    : limit_(limit), rescue_(std::move(rescue)), lastBeat_(std::chrono::steady_clock::now()),
      thread_([this] { watch(); }) {}

Watchdog::~Watchdog() {
    stop();
    thread_.join();
}

void Watchdog::beat() {
    const std::lock_guard<std::mutex> lock(mutex_);
    lastBeat_ = std::chrono::steady_clock::now();
}

void Watchdog::setRescue(Rescue rescue) {
    const std::lock_guard<std::mutex> lock(mutex_);
    rescue_ = std::move(rescue);
}

void Watchdog::stop() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
}

void Watchdog::watch() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!stopped_) {
        const auto due = lastBeat_ + limit_;
        if (std::chrono::steady_clock::now() >= due) {
            const Rescue rescue = rescue_;
            lock.unlock();
            rescue(); // ends the process
            return;
        }
        changed_.wait_until(lock, due);
    }
}

} // namespace kavlento
