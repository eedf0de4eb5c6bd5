#include "main/Display.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <cstdio>

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

} // namespace

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
    } else if (!platforms.split(QLatin1Char(';')).contains(kOffscreen)) {
        platforms += QLatin1Char(';') + kOffscreen;
    }
    qputenv("QT_QPA_PLATFORM", platforms.toLocal8Bit());
    qtHandler = qInstallMessageHandler(quietPlatformWarnings);
    return choice;
}

} // namespace kavlento
