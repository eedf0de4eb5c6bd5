#include "ui/Fonts.h"

#include <QFontDatabase>
#include <QFontMetrics>

namespace kavlento::ui {

namespace {
const QString kTurkishLetters = QStringLiteral("İŞĞışğÖÜÇöüç");
} // namespace

bool drawsTurkishLetters(const QString& family) {
    if (!QFontDatabase::hasFamily(family)) {
        return false;
    }
    const QFontMetrics metrics{QFont(family)};
    for (const QChar letter : kTurkishLetters) {
        if (!metrics.inFont(letter)) {
            return false;
        }
    }
    return true;
}

QString installedFamilyFor(const QString& wanted, const QStringList& similar) {
    if (drawsTurkishLetters(wanted)) {
        return wanted;
    }
    for (const QString& family : similar) {
        if (drawsTurkishLetters(family)) {
            return family;
        }
    }
    return QFontDatabase::systemFont(QFontDatabase::GeneralFont).family();
}

QFont sansSerifBold(qreal pointSize) {
    static const QString family = installedFamilyFor(
        QStringLiteral("MS Sans Serif"),
        {QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Liberation Sans"),
         QStringLiteral("Arimo"), QStringLiteral("DejaVu Sans")});
    QFont font(family);
    font.setPointSizeF(pointSize);
    font.setBold(true);
    return font;
}

QFont tahomaBold() {
    static const QString family = installedFamilyFor(
        QStringLiteral("Tahoma"),
        {QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("Liberation Sans Narrow"),
         QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans")});
    QFont font(family);
    font.setPointSizeF(9.75);
    font.setBold(true);
    return font;
}

} // namespace kavlento::ui
