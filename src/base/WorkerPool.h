#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace kavlento {

// A fixed set of threads that run submitted tasks in order of submission.
// Destroying the pool drops the tasks not yet started and waits for the
// running ones.
class WorkerPool {
public:
    explicit WorkerPool(unsigned threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    template <typename F> auto submit(F task) -> std::future<decltype(task())> {
        using Result = decltype(task());
        auto packaged = std::make_shared<std::packaged_task<Result()>>(std::move(task));
        std::future<Result> future = packaged->get_future();
        enqueue([packaged] { (*packaged)(); });
        return future;
    }

    unsigned size() const { return static_cast<unsigned>(threads_.size()); }

    // The number of threads that suits this machine for `requested` (0: all cores).
    static unsigned threadsFor(unsigned requested);

private:
    void enqueue(std::function<void()> task);
    void run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> tasks_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

// Calls `work(i)` for every i below `count`, in rising order of i as threads
// come free, on `threads` threads (0: all cores). The first exception stops
// the rest and is thrown here; `stop()` returning true stops them too.
void runInParallel(std::size_t count, unsigned threads,
                   const std::function<void(std::size_t)>& work, const std::function<bool()>& stop);

} // namespace kavlento
