#include "app/LoggedDialogs.h"

#include "base/Failure.h"

namespace kavlento::app {

namespace {
QString oneLine(const QString& text) {
    return shortened(QString(text).replace(QLatin1Char('\r'), QLatin1Char(' ')), 2000);
}
} // namespace

void LoggedDialogs::note(const QString& line) {
    log_.line(oneLine(line));
}

void LoggedDialogs::inform(const QString& text, const QString& title, MessageIcon icon) {
    if (run_ != Run::Interactive) {
        // Every line already starts with the program's title.
        const QString kind = icon == MessageIcon::Error           ? QStringLiteral("HATA")
                             : title == QLatin1String("Kavlento") ? QString()
                                                                  : title;
        note(kind.isEmpty() ? text : kind + QStringLiteral(": ") + text);
    }
    if (boxesShown()) {
        windows_.inform(text, title, icon);
    }
}

bool LoggedDialogs::askYesNo(const QString& text, const QString& title, MessageIcon icon,
                             DefaultAnswer preferred) {
    if (boxesShown()) {
        return windows_.askYesNo(text, title, icon, preferred);
    }
    note(text + QStringLiteral(" (yanıt verecek kimse yok: Hayır)"));
    return false;
}

void LoggedDialogs::reportFailure(int number, const QString& description) {
    note(QStringLiteral("hata %1: %2").arg(number).arg(description));
    if (boxesShown()) {
        windows_.reportFailure(number, description);
    }
}

QString LoggedDialogs::pickArchiveFile(const QString& startFolder) {
    return boxesShown() ? windows_.pickArchiveFile(startFolder) : QString();
}

QString LoggedDialogs::pickFolder(const QString& prompt, const QString& startFolder) {
    return boxesShown() ? windows_.pickFolder(prompt, startFolder) : QString();
}

} // namespace kavlento::app
