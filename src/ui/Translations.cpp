#include "ui/Translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <cstring>

namespace kavlento::ui {

namespace {

// Qt 6 names file types in the context QAbstractFileIconProvider, which
// Debian's Turkish catalog of Qt 6.4 does not have yet: the file dialogs'
// type column said "Folder". Called from the dialogs' file-information thread
// too, so it only reads a constant table.
class FileTypeTexts final : public QTranslator {
public:
    using QTranslator::QTranslator;

    QString translate(const char* context, const char* sourceText, const char*,
                      int) const override {
        if (context == nullptr || sourceText == nullptr ||
            std::strcmp(context, "QAbstractFileIconProvider") != 0) {
            return QString();
        }
        static const struct {
            const char* english;
            const char16_t* turkish;
        } texts[] = {
            {"Folder", u"Klasör"},      {"File Folder", u"Dosya klasörü"}, {"File", u"Dosya"},
            {"Drive", u"Sürücü"},       {"Shortcut", u"Kısayol"},          {"Alias", u"Kısayol"},
            {"Unknown", u"Bilinmeyen"},
        };
        for (const auto& text : texts) {
            if (std::strcmp(sourceText, text.english) == 0) {
                return QString::fromUtf16(text.turkish);
            }
        }
        return QString();
    }

    bool isEmpty() const override { return false; }
};

} // namespace

void installTurkishTranslations(QCoreApplication& app) {
    const QLocale turkish(QLocale::Turkish, QLocale::Turkey);
    QLocale::setDefault(turkish);
    // Asked after Qt's own catalog, which wins once it has these texts.
    QCoreApplication::installTranslator(new FileTypeTexts(&app));
    auto* translator = new QTranslator(&app);
    if (translator->load(turkish, QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}

} // namespace kavlento::ui
