// Renders every window and message box of Kavlento to PNG files, the way the
// platform in use draws them (run it under Xvfb to see them as on a desktop;
// set QT_SCALE_FACTOR to see them on a high-DPI screen).
//
//   ui_gallery <output-folder>

#include "store/HistoryFile.h"
#include "ui/MainWindow.h"
#include "ui/ProgressWindow.h"
#include "ui/QtUserDialogs.h"
#include "ui/Translations.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QTimer>

#include <cstdio>

using namespace kavlento;
using namespace kavlento::app;

namespace {

void save(QWidget& widget, const QString& folder, const QString& name) {
    widget.show();
    QApplication::processEvents();
    const QString path = QDir(folder).filePath(name + ".png");
    if (!widget.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        std::exit(1);
    }
    widget.hide();
}

struct Box {
    const char* name;
    QString text;
    QString title;
    MessageIcon icon;
    ui::QtUserDialogs::Buttons buttons;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <output-folder>\n", argv[0]);
        return 2;
    }
    ui::installTurkishTranslations(app);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    ui::MainWindow window;
    window.setProgramFolderText("/HOME/MUHASEBE/VERİ");
    window.setTargetText("/media/yedek/Şirket Yedekleri");
    QByteArray history;
    for (const store::HistoryRecord& record : std::vector<store::HistoryRecord>{
             {"05-12-2026", "17:45:12",
              "/media/yedek/Şirket Yedekleri/05-12-2026/5122026.174512.ksd"},
             {"06-12-2026", "09:05:03", "/media/yedek/Şirket Yedekleri/06-12-2026/6122026.953.ksd"},
             {"07-12-2026", "08:24:34",
              "/media/yedek/Şirket Yedekleri/07-12-2026/7122026.82434.ksd"}}) {
        history += store::HistoryFile::format(record);
    }
    window.showHistory(store::History::parse(history));
    window.showCentered();
    save(window, folder, "ana-pencere");

    ui::ProgressWindow progress([] { return std::optional<int>(37); });
    // exit(), not quit(): quit() asks the windows to close, and this one refuses.
    QTimer::singleShot(50, &app, [] { QCoreApplication::exit(0); });
    progress.show();
    app.exec();
    save(progress, folder, "ilerleme");
    progress.setStep(QStringLiteral("ŞU ANKİ VERİLER SON YEDEKLE KARŞILAŞTIRILIYOR..."), 15, 60);
    QTimer::singleShot(50, &app, [] { QCoreApplication::exit(0); });
    app.exec();
    save(progress, folder, "ilerleme-adim");

    const QString cr = QString(QChar(u'\r'));
    using B = ui::QtUserDialogs::Buttons;
    const Box boxes[] = {
        {"hedef-yok", "YEDEKLEME HEDEFİ SEÇİN", "HATA", MessageIcon::Error, B::Ok},
        {"otomatik-hedef-yok", "YEDEKLEME HEDEFİ GİRİLMEDİĞİNDEN OTOMATİK YEDEKLEME ÇALIŞMAYACAK",
         "Kavlento", MessageIcon::Information, B::Ok},
        {"yedek-tamam",
         "YEDEK ALMA İŞLEMİ TAMAMLANDI." + cr +
             "SAĞLIKLI BİR KULLANIM İÇİN PROGRAMINIZI TEKRAR BAŞLATIN.",
         QString(), MessageIcon::Information, B::Ok},
        {"silinsin-mi", "Seçmiş Olduğunuz Yedek Birimi Silinsin mi?", "UYARI",
         MessageIcon::Question, B::YesNo},
        {"geri-yuklensin-mi", "SEÇİLİ YEDEK GERİ YÜKLENSİN Mİ?", QString(), MessageIcon::Question,
         B::YesNo},
        {"dosya-yok", "YEDEK DOSYASINA ULAŞILAMIYOR.SİLİNMEDİĞİNDEN EMİN OLUN!", QString(),
         MessageIcon::Error, B::Ok},
        {"geri-yukleme-tamam",
         "VERİLERİN YEDEKTEN GERİ YÜKLENMESİ TAMAMLANDI." + cr + "ŞİMDİ PROGRAM SONLANDIRILACAK...",
         QString(), MessageIcon::Information, B::Ok},
        {"hata",
         ui::QtUserDialogs::failureText(61, "Dosya yazılamadı: /media/yedek (diskte yer kalmadı)"),
         QString(), MessageIcon::Error, B::Ok},
    };
    for (const Box& box : boxes) {
        auto shown = ui::QtUserDialogs::messageBox(box.text, box.title, box.icon, box.buttons);
        save(*shown, folder, box.name);
    }
    return 0;
}
