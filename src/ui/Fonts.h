#pragma once

#include <QFont>
#include <QString>
#include <QStringList>

namespace kavlento::ui {

// The windows name Windows fonts. Where one is missing, the first installed
// family of a similar width that draws every Turkish letter takes its place.
QString installedFamilyFor(const QString& wanted, const QStringList& similar);

// "MS Sans Serif" bold, at `pointSize` (8.25 in the main window, 9.75 in the
// progress window).
QFont sansSerifBold(qreal pointSize);

// "Tahoma", 9.75 point, bold.
QFont tahomaBold();

// Whether `family` draws all of İ Ş Ğ ı ş ğ Ö Ü Ç ö ü ç.
bool drawsTurkishLetters(const QString& family);

} // namespace kavlento::ui
