#include "app/KavlentoApplication.h"

#include <new>

namespace kavlento {

KavlentoApplication::KavlentoApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool KavlentoApplication::notify(QObject* receiver, QEvent* event) {
    bool handled = false;
    guard([&] { handled = QApplication::notify(receiver, event); });
    return handled;
}

void KavlentoApplication::guard(const std::function<void()>& step) {
    try {
        step();
    } catch (const Failure& failure) {
        handler_(failure);
    } catch (const std::bad_alloc&) {
        handler_(Failure(FailureCode::OutOfMemory, QStringLiteral("Bellek yetersiz")));
    } catch (const std::exception& error) {
        handler_(Failure(FailureCode::Unexpected, QString::fromLocal8Bit(error.what())));
    }
}

} // namespace kavlento
