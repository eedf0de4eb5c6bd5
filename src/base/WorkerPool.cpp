#include "base/WorkerPool.h"

#include "base/ThreadCache.h"

#include <algorithm>
#include <exception>

namespace kavlento {

WorkerPool::WorkerPool(unsigned threads) {
    for (unsigned i = 0; i < std::max(1u, threads); ++i) {
        threads_.emplace_back([this] { run(); });
    }
}

WorkerPool::~WorkerPool() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        tasks_.clear();
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

unsigned WorkerPool::threadsFor(unsigned requested) {
    if (requested > 0) {
        return requested;
    }
    return std::max(1u, std::thread::hardware_concurrency());
}

void WorkerPool::enqueue(std::function<void()> task) {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        tasks_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void WorkerPool::run() {
    const ThreadCacheScope caches;
    while (true) {
        std::function<void()> task;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !tasks_.empty(); });
            if (stopping_) {
                return;
            }
            task = std::move(tasks_.front());
            tasks_.pop_front();
        }
        task();
    }
}

void runInParallel(std::size_t count, unsigned threads,
                   const std::function<void(std::size_t)>& work,
                   const std::function<bool()>& stop) {
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex errorMutex;
    std::exception_ptr error;
    {
        WorkerPool pool(static_cast<unsigned>(std::min<std::size_t>(
            WorkerPool::threadsFor(threads), std::max<std::size_t>(count, 1))));
        std::vector<std::future<void>> workers;
        for (unsigned t = 0; t < pool.size(); ++t) {
            workers.push_back(pool.submit([&] {
                try {
                    for (std::size_t i = next++; i < count; i = next++) {
                        if (failed || stop()) {
                            return;
                        }
                        work(i);
                    }
                } catch (...) {
                    const std::lock_guard<std::mutex> lock(errorMutex);
                    if (!error) {
                        error = std::current_exception();
                    }
                    failed = true;
                }
            }));
        }
        for (std::future<void>& worker : workers) {
            worker.wait();
        }
    }
    if (error) {
        std::rethrow_exception(error);
    }
}

} // namespace kavlento
