#pragma once

#include <cstddef>
#include <memory>
#include <utility>

namespace kavlento {

// What a thread keeps from one call to the next (buffers, compressors), held
// without a thread_local destructor: MinGW runs those after its emulated TLS
// has freed their objects' storage, and the thread then crashes as it ends.
// A thread frees what it kept when the ThreadCacheScope at the top of its body
// ends; the main thread keeps its own until the program ends.
class ThreadCacheScope {
public:
    ThreadCacheScope();
    ~ThreadCacheScope();
    ThreadCacheScope(const ThreadCacheScope&) = delete;
    ThreadCacheScope& operator=(const ThreadCacheScope&) = delete;

private:
    std::size_t keptBefore_;
};

namespace detail {

// Has `release` called on this thread when its innermost scope ends.
void releaseWithScope(void (*release)());

template <typename Make> struct ThreadCacheSlot {
    using Object = decltype(std::declval<Make>()());
    // A plain pointer, so that no destructor is registered for it.
    static inline thread_local Object* object = nullptr;
    static void release() { delete std::exchange(object, nullptr); }
};

} // namespace detail

// This thread's object from `make`, made at the thread's first call from this
// place in the code (each lambda is a place of its own).
template <typename Make>
typename detail::ThreadCacheSlot<Make>::Object& threadCache(const Make& make) {
    using Slot = detail::ThreadCacheSlot<Make>;
    if (Slot::object == nullptr) {
        // Made in place, for objects that cannot be moved.
        std::unique_ptr<typename Slot::Object> made(new typename Slot::Object(make()));
        detail::releaseWithScope(&Slot::release);
        Slot::object = made.release();
    }
    return *Slot::object;
}

} // namespace kavlento
