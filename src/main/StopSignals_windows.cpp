#include "main/StopSignals.h"

#include "fs/Descriptor_windows.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QMetaObject>

#include <mutex>

namespace kavlento {

namespace {

struct StopEvent {
    DWORD type;
    const char* name;
};
// Log-off and shutdown come here only to processes without windows; to one
// that has loaded user32, as this one has, Windows says them to its windows
// (SessionEnd below).
constexpr StopEvent kStopEvents[] = {
    {CTRL_C_EVENT, "CTRL_C_EVENT"},
    {CTRL_BREAK_EVENT, "CTRL_BREAK_EVENT"},
    {CTRL_CLOSE_EVENT, "CTRL_CLOSE_EVENT"},
    {CTRL_LOGOFF_EVENT, "CTRL_LOGOFF_EVENT"},
    {CTRL_SHUTDOWN_EVENT, "CTRL_SHUTDOWN_EVENT"},
};

// The one StopSignals that takes the requests; the handler runs on a thread
// of its own, and the lock keeps the object from going while it is used.
std::mutex receiverLock;
StopSignals::Handler* receiverHandler = nullptr;
QObject* receiver = nullptr;

const char* nameOf(DWORD type) {
    for (const StopEvent& stop : kStopEvents) {
        if (stop.type == type) {
            return stop.name;
        }
    }
    return nullptr;
}

// Hands the request to the user-interface thread, as a queued call.
bool handOn(DWORD type) {
    const char* name = nameOf(type);
    const std::lock_guard<std::mutex> lock(receiverLock);
    if (name == nullptr || receiver == nullptr) {
        return false;
    }
    StopSignals::Handler* handler = receiverHandler;
    const QString signalName = QString::fromLatin1(name);
    QMetaObject::invokeMethod(
        receiver, [handler, signalName] { (*handler)(signalName); }, Qt::QueuedConnection);
    return true;
}

BOOL WINAPI onControl(DWORD type) {
    if (!handOn(type)) {
        return FALSE; // the next handler, or the system's, decides
    }
    if (type == CTRL_CLOSE_EVENT || type == CTRL_LOGOFF_EVENT || type == CTRL_SHUTDOWN_EVENT) {
        // The system ends the process as soon as the handler returns: it waits
        // here while the job stops, until the program ends or the system's
        // time runs out.
        Sleep(INFINITE);
    }
    return TRUE;
}

// Log-off and shutdown as Windows says them to the program's windows. Once
// WM_ENDSESSION returns, the system may end the process at any moment: the
// stop runs inside it, on the user-interface thread the message came on, and
// returns only when the job has stopped and removed what it wrote (the
// program ends there, or shows its error box).
class SessionEnd final : public QObject, public QAbstractNativeEventFilter {
public:
    SessionEnd(StopSignals::Handler& onStop, QObject* parent) : QObject(parent), onStop_(onStop) {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~SessionEnd() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override {
        const auto* msg = static_cast<const MSG*>(message);
        // Every top-level window has it said; a posted one passes the filter
        // twice, once as the dispatcher's.
        if (eventType != "windows_generic_MSG" || msg->message != WM_ENDSESSION ||
            msg->wParam == FALSE) {
            return false;
        }
        *result = 0;
        if (!stopping_) {
            stopping_ = true;
            onStop_(QStringLiteral("WM_ENDSESSION"));
        }
        return true;
    }

private:
    StopSignals::Handler& onStop_;
    bool stopping_ = false;
};

} // namespace

StopSignals::StopSignals(Handler onStop, QObject* parent)
    : QObject(parent), onStop_(std::move(onStop)) {
    new SessionEnd(onStop_, this);
    if (!SetConsoleCtrlHandler(onControl, TRUE)) {
        const DWORD error = GetLastError();
        fs::throwWindowsError(error, QStringLiteral("Durdurma isteklerini alma hazırlanamadı"),
                              std::string());
    }
    const std::lock_guard<std::mutex> lock(receiverLock);
    receiver = this;
    receiverHandler = &onStop_;
}

StopSignals::~StopSignals() {
    SetConsoleCtrlHandler(onControl, FALSE);
    const std::lock_guard<std::mutex> lock(receiverLock);
    receiver = nullptr;
    receiverHandler = nullptr;
}

} // namespace kavlento
