#include "app/ConsoleDialogs.h"

#include "base/Failure.h"

#include <QDateTime>

namespace kavlento::app {

namespace {
QString oneLine(const QString& text) {
    return QString(text).replace(QLatin1Char('\r'), QLatin1Char(' '));
}
} // namespace

void ConsoleDialogs::print(const QString& line) {
    const QString now =
        QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    std::fprintf(out_, "%s Kavlento: %s\n", now.toLocal8Bit().constData(),
                 shortened(line, 2000).toLocal8Bit().constData());
    std::fflush(out_);
}

void ConsoleDialogs::inform(const QString& text, const QString& title, MessageIcon icon) {
    // Every line already starts with the program's title.
    const QString kind = icon == MessageIcon::Error           ? QStringLiteral("HATA")
                         : title == QLatin1String("Kavlento") ? QString()
                                                              : title;
    print(kind.isEmpty() ? oneLine(text) : kind + QStringLiteral(": ") + oneLine(text));
}

bool ConsoleDialogs::askYesNo(const QString& text, const QString&, MessageIcon) {
    print(oneLine(text) + QStringLiteral(" (yanıt verecek kimse yok: Hayır)"));
    return false;
}

void ConsoleDialogs::reportFailure(int number, const QString& description) {
    print(QStringLiteral("hata %1: %2").arg(number).arg(oneLine(description)));
}

} // namespace kavlento::app
