#include "app/WorkAside.h"

#include "base/ThreadCache.h"

#include <QEventLoop>
#include <QMetaObject>

#include <exception>
#include <thread>

namespace kavlento::app {

void runAside(const std::function<void()>& work) {
    QEventLoop loop;
    std::exception_ptr failure;
    std::thread aside([&] {
        const ThreadCacheScope caches;
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
        QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
    });
    loop.exec();
    aside.join();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

} // namespace kavlento::app
