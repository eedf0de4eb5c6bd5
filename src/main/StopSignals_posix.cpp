#include "main/StopSignals.h"

#include "base/Failure.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kavlento {

namespace {

struct StopSignal {
    int number;
    const char* name;
};
constexpr StopSignal kStopSignals[] = {
    {SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
int pipeEnds[2] = {-1, -1}; // [0] read on the user-interface thread, [1] written by the handler

// Only what is safe in a signal handler: one write of the signal's number.
void onSignal(int number) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(number);
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = saved;
}

QString nameOf(int number) {
    for (const StopSignal& stop : kStopSignals) {
        if (stop.number == number) {
            return QString::fromLatin1(stop.name);
        }
    }
    return QStringLiteral("sinyal %1").arg(number);
}

} // namespace

StopSignals::StopSignals(Handler onStop, QObject* parent)
    : QObject(parent), onStop_(std::move(onStop)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, pipeEnds) != 0) {
        throw systemFailure(errno, QStringLiteral("Durdurma isteklerini alma hazırlanamadı"),
                            QString());
    }
    notifier_ = new QSocketNotifier(pipeEnds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &StopSignals::deliver);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const StopSignal& stop : kStopSignals) {
        if (::sigaction(stop.number, &action, nullptr) != 0) {
            throw systemFailure(errno, QStringLiteral("Durdurma isteklerini alma hazırlanamadı"),
                                QString());
        }
    }
}

StopSignals::~StopSignals() {
    for (const StopSignal& stop : kStopSignals) {
        std::signal(stop.number, SIG_DFL);
    }
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
}

void StopSignals::deliver() {
    unsigned char byte = 0;
    if (::read(pipeEnds[0], &byte, 1) == 1) {
        onStop_(nameOf(byte));
    }
}

} // namespace kavlento
