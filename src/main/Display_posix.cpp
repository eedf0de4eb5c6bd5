#include "main/Display.h"

#include "fs/Descriptor_posix.h"
#include "fs/File.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <vector>

namespace kavlento {

namespace {

const QString kOffscreen = QStringLiteral("offscreen");

QtMessageHandler qtHandler = nullptr;

// What a platform that cannot start says is answered by the fallback. The
// offscreen platform's note that it cannot raise a window, and Qt's notes on
// the runtime folder (which it replaces by one of its own, and which Kavlento
// does not use: its lock is on the program folder) concern nobody either.
void quietPlatformWarnings(QtMsgType type, const QMessageLogContext& context,
                           const QString& message) {
    const QByteArray category(context.category != nullptr ? context.category : "");
    if (category == "qt.qpa.xcb" || category == "qt.qpa.plugin" ||
        message == QLatin1String("This plugin does not support raise()") ||
        (message.startsWith(QLatin1String("QStandardPaths: ")) &&
         message.contains(QLatin1String("runtime")))) {
        return;
    }
    if (qtHandler != nullptr) {
        qtHandler(type, context, message);
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    }
}

// A real X server answers the opening of a connection in milliseconds, also
// across a network.
constexpr int kAnswerWithinMs = 5000;
constexpr int kRetryPauseMs = 50;

bool waitFor(int fd, short events, const QDeadlineTimer& deadline) {
    pollfd wanted{fd, events, 0};
    return ::poll(&wanted, 1, static_cast<int>(deadline.remainingTime())) == 1 &&
           (wanted.revents & events) != 0;
}

fs::UniqueFd connectWithin(const sockaddr* address, socklen_t length,
                           const QDeadlineTimer& deadline) {
    fs::UniqueFd fd = fs::Descriptor::adopt(
        ::socket(address->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid() ||
        (::connect(fs::Descriptor::of(fd), address, length) != 0 && errno != EINPROGRESS) ||
        !waitFor(fs::Descriptor::of(fd), POLLOUT, deadline)) {
        return fs::UniqueFd();
    }
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(fs::Descriptor::of(fd), SOL_SOCKET, SO_ERROR, &error, &size) != 0 ||
        error != 0) {
        return fs::UniqueFd();
    }
    return fd;
}

// The X server's socket on this machine: the abstract one first, as the X
// libraries try it, then the one in /tmp.
fs::UniqueFd connectLocally(int display, const QDeadlineTimer& deadline) {
    for (const bool abstract : {true, false}) {
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const int length = std::snprintf(address.sun_path + 1, sizeof address.sun_path - 1,
                                         "/tmp/.X11-unix/X%d", display);
        if (!abstract) {
            std::memmove(address.sun_path, address.sun_path + 1, sizeof address.sun_path - 1);
        }
        const auto size =
            static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length + (abstract ? 1 : 0));
        if (fs::UniqueFd fd =
                connectWithin(reinterpret_cast<const sockaddr*>(&address), size, deadline);
            fd.valid()) {
            return fd;
        }
    }
    return fs::UniqueFd();
}

fs::UniqueFd connectOverNetwork(const QString& host, int port, const QDeadlineTimer& deadline) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.toLocal8Bit().constData(), QByteArray::number(port).constData(), &hints,
                      &found) != 0) {
        return fs::UniqueFd();
    }
    fs::UniqueFd fd;
    for (const addrinfo* at = found; at != nullptr && !fd.valid(); at = at->ai_next) {
        fd = connectWithin(at->ai_addr, at->ai_addrlen, deadline);
    }
    ::freeaddrinfo(found);
    return fd;
}

// Reads exactly `size` bytes before `deadline`; false when the server is
// silent or closes the connection first (`closed` says which).
bool receiveWithin(const fs::UniqueFd& fd, unsigned char* into, std::size_t size,
                   const QDeadlineTimer& deadline, bool& closed) {
    for (std::size_t got = 0; got < size;) {
        if (!waitFor(fs::Descriptor::of(fd), POLLIN, deadline)) {
            return false;
        }
        const ssize_t n = ::recv(fs::Descriptor::of(fd), into + got, size - got, 0);
        if (n <= 0) {
            closed = true;
            return false;
        }
        got += static_cast<std::size_t>(n);
    }
    return true;
}

// How the server on `fd` meets the opening of a connection before `deadline`.
// Little-endian, protocol 11.0, no authorisation: any server replies, if only
// to refuse, with a header (failed, succeeded or more to say) and the number
// of 4-byte units that follow it; the whole reply must come in time, since Qt
// would wait for it without a limit.
enum class Opening { Answered, Closed, Silent };
Opening openConnection(const fs::UniqueFd& fd, const QDeadlineTimer& deadline) {
    const unsigned char opening[12] = {'l', 0, 11, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    if (::send(fs::Descriptor::of(fd), opening, sizeof opening, MSG_NOSIGNAL) !=
        static_cast<ssize_t>(sizeof opening)) {
        return errno == EPIPE || errno == ECONNRESET ? Opening::Closed : Opening::Silent;
    }
    bool closed = false;
    unsigned char header[8] = {};
    if (!receiveWithin(fd, header, sizeof header, deadline, closed)) {
        return closed ? Opening::Closed : Opening::Silent;
    }
    if (header[0] > 2) {
        return Opening::Silent; // no X server speaks so
    }
    std::vector<unsigned char> rest(4u * (header[6] | (header[7] << 8)));
    if (!receiveWithin(fd, rest.data(), rest.size(), deadline, closed)) {
        return closed ? Opening::Closed : Opening::Silent;
    }
    return Opening::Answered;
}

struct XDisplay {
    QString host; // empty or "unix" on this machine
    int number = 0;
};

// The X display a DISPLAY value ("[host]:number[.screen]") names, if it is a
// name this probe knows.
std::optional<XDisplay> xDisplayNamed(const QString& display) {
    const qsizetype colon = display.lastIndexOf(QLatin1Char(':'));
    bool isNumber = false;
    const int number = display.mid(colon + 1).section(QLatin1Char('.'), 0, 0).toInt(&isNumber);
    if (colon < 0 || !isNumber) {
        return std::nullopt;
    }
    return XDisplay{display.left(colon), number};
}

// A connection the X server of `display` answered in time, or none. Qt waits
// for that answer without a limit, so a display that accepts connections and
// never answers would hold a scheduled backup for ever. A server that closes
// a connection at once is resetting, because its last client just left; it
// is asked again until the deadline.
fs::UniqueFd answeredConnection(const XDisplay& display, const QDeadlineTimer& deadline) {
    const bool local = display.host.isEmpty() || display.host == QLatin1String("unix");
    for (;;) {
        fs::UniqueFd fd = local ? connectLocally(display.number, deadline)
                                : connectOverNetwork(display.host, 6000 + display.number, deadline);
        const Opening opening = fd.valid() ? openConnection(fd, deadline) : Opening::Silent;
        if (opening == Opening::Answered) {
            return fd;
        }
        if (opening == Opening::Silent || deadline.remainingTime() < kRetryPauseMs) {
            return fs::UniqueFd();
        }
        ::poll(nullptr, 0, kRetryPauseMs);
    }
}

} // namespace

void PlatformChoice::releaseDisplay() {
    heldConnection_ = fs::UniqueFd();
}

bool PlatformChoice::isHeadless(const QString& platformName) const {
    return platformName == kOffscreen && !(offscreenAskedFor_ && displayNamed_);
}

PlatformChoice choosePlatform() {
    PlatformChoice choice;
    choice.displayNamed_ =
        !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    QString platforms = qEnvironmentVariable("QT_QPA_PLATFORM");
    choice.offscreenAskedFor_ = platforms.startsWith(kOffscreen);
    if (platforms.isEmpty()) {
        if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            platforms = QStringLiteral("wayland;");
        }
        if (!qEnvironmentVariableIsEmpty("DISPLAY")) {
            platforms += QStringLiteral("xcb;");
        }
        platforms += kOffscreen;
    }
    QStringList list = platforms.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    const std::optional<XDisplay> display = xDisplayNamed(qEnvironmentVariable("DISPLAY"));
    // A name this probe does not know is left to Qt.
    if (list.contains(QLatin1String("xcb")) && display) {
        choice.heldConnection_ = answeredConnection(*display, QDeadlineTimer(kAnswerWithinMs));
        if (!choice.heldConnection_.valid()) {
            list.removeAll(QStringLiteral("xcb"));
        }
    }
    if (!list.contains(kOffscreen)) {
        list.append(kOffscreen);
    }
    qputenv("QT_QPA_PLATFORM", list.join(QLatin1Char(';')).toLocal8Bit());
    qtHandler = qInstallMessageHandler(quietPlatformWarnings);
    return choice;
}

} // namespace kavlento
