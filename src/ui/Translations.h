#pragma once

class QCoreApplication;

namespace kavlento::ui {

// Loads Qt's own Turkish texts (file dialogs, context menus) where they are
// installed. The texts of our own boxes are set in Turkish regardless.
void installTurkishTranslations(QCoreApplication& app);

} // namespace kavlento::ui
