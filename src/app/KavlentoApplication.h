#pragma once

#include "app/Failure.h"

#include <QApplication>

#include <functional>

namespace kavlento {

// The application object. A Failure (or any other exception) that leaves an
// event handler is caught here, where events are dispatched, and handed to the
// failure handler: one error box, then the end of the program.
class KavlentoApplication : public QApplication {
public:
    using FailureHandler = std::function<void(const Failure&)>;

    KavlentoApplication(int& argc, char** argv);

    void setFailureHandler(FailureHandler handler) { handler_ = std::move(handler); }
    bool notify(QObject* receiver, QEvent* event) override;

    // Runs `step`, turning whatever it throws into a call of the failure handler.
    void guard(const std::function<void()>& step);

private:
    FailureHandler handler_;
};

} // namespace kavlento
