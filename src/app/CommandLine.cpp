#include "app/CommandLine.h"

#include <algorithm>

namespace kavlento::app {

namespace {
const QString kLaunchCode = QStringLiteral("4702519836");
const QString kUnattendedKeyword = QStringLiteral("OtoRadizEv");
const QString kHelp = QStringLiteral("--help");
const QString kYardim = QStringLiteral("--yardım");
const QString kStoreTarget = QStringLiteral("--hedef");
const QString kCheck = QStringLiteral("--denetle");
const QString kKeep = QStringLiteral("--sakla");
const QString kStatus = QStringLiteral("--durum");

bool isOption(const QString& argument) {
    return argument == kHelp || argument == kYardim || argument == kStoreTarget ||
           argument == kCheck || argument == kKeep || argument == kStatus;
}

QString optionName(AdminCommand command) {
    switch (command) {
    case AdminCommand::Help:
        return kYardim;
    case AdminCommand::StoreTarget:
        return kStoreTarget;
    case AdminCommand::CheckBackups:
        return kCheck;
    case AdminCommand::Status:
        return kStatus;
    case AdminCommand::None:
        break;
    }
    return QString();
}
} // namespace

CommandLine CommandLine::fromArguments(const QStringList& argumentsAfterProgramName) {
    CommandLine line(argumentsAfterProgramName.join(QLatin1Char(' ')));
    line.readOptions(argumentsAfterProgramName);
    return line;
}

void CommandLine::readOptions(const QStringList& arguments) {
    QList<AdminCommand> asked;
    QStringList problems;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        // The next argument, unless it is an option itself.
        const auto value = [&]() -> std::optional<QString> {
            if (i + 1 < arguments.size() && !isOption(arguments[i + 1])) {
                return arguments[++i];
            }
            return std::nullopt;
        };
        if (argument == kHelp || argument == kYardim) {
            asked.append(AdminCommand::Help);
        } else if (argument == kCheck) {
            asked.append(AdminCommand::CheckBackups);
        } else if (argument == kStoreTarget) {
            asked.append(AdminCommand::StoreTarget);
            target_ = value().value_or(QString());
            if (target_.isEmpty()) {
                problems.append(QStringLiteral("--hedef için bir klasör verin"));
            }
        } else if (argument == kKeep) {
            const std::optional<QString> given = value();
            bool number = false;
            const int count = given.value_or(QString()).toInt(&number);
            if (number && count >= 1) {
                keep_ = count;
            } else {
                problems.append(
                    given ? QStringLiteral("--sakla için 1 ya da daha büyük bir sayı verin "
                                           "(\"%1\" verildi)")
                                .arg(*given)
                          : QStringLiteral("--sakla için 1 ya da daha büyük bir sayı verin"));
            }
        } else if (argument == kStatus) {
            asked.append(AdminCommand::Status);
            // The days are optional: a number right after it.
            if (i + 1 < arguments.size() && !isOption(arguments[i + 1]) &&
                !arguments[i + 1].contains(kLaunchCode) &&
                !arguments[i + 1].contains(kUnattendedKeyword)) {
                const QString given = arguments[++i];
                bool number = false;
                days_ = given.toInt(&number);
                if (!number || days_ < 1) {
                    problems.append(QStringLiteral("--durum için 1 ya da daha büyük bir gün sayısı "
                                                   "verin (\"%1\" verildi)")
                                        .arg(given));
                }
            }
        } else if (!argument.contains(kLaunchCode) && !argument.contains(kUnattendedKeyword)) {
            unknownWords_.append(argument);
        }
    }
    settle(asked, problems);
}

void CommandLine::settle(const QList<AdminCommand>& asked, const QStringList& problems) {
    if (hasLaunchCode() && isUnattended()) {
        // The backup is taken in any case; --hedef stores its target first.
        for (const AdminCommand command : asked) {
            const QString aside =
                QStringLiteral("%1 OtoRadizEv ile kullanılamaz").arg(optionName(command));
            if (command != AdminCommand::StoreTarget && !setAside_.contains(aside)) {
                setAside_.append(aside);
            }
        }
        setAside_ += problems;
        return;
    }
    if (asked.contains(AdminCommand::Help)) {
        command_ = AdminCommand::Help; // help is given whatever else was asked
        return;
    }
    for (const AdminCommand command : asked) {
        if (command_ != AdminCommand::None && command_ != command) {
            refusal_ = QStringLiteral("%1 ve %2 birlikte kullanılamaz.")
                           .arg(optionName(command_), optionName(command));
            return;
        }
        command_ = command;
    }
    if (!problems.isEmpty()) {
        refusal_ = problems.first() + QLatin1Char('.');
    } else if (keep_) {
        refusal_ = QStringLiteral("--sakla yalnızca OtoRadizEv ile kullanılır.");
    }
}

bool CommandLine::hasLaunchCode() const {
    return text_.contains(kLaunchCode, Qt::CaseSensitive);
}

bool CommandLine::isUnattended() const {
    return text_.contains(kUnattendedKeyword, Qt::CaseSensitive);
}

QString CommandLine::warning() const {
    QStringList parts;
    if (!unknownWords_.isEmpty()) {
        QStringList quoted;
        for (const QString& word : unknownWords_) {
            quoted.append(QLatin1Char('"') + word + QLatin1Char('"'));
        }
        parts.append(QStringLiteral("komut satırındaki tanınmayan sözcükler yok sayıldı: %1")
                         .arg(quoted.join(QStringLiteral(", "))));
    }
    for (const QString& aside : setAside_) {
        parts.append(aside + QStringLiteral(", yok sayıldı"));
    }
    if (parts.isEmpty()) {
        return QString();
    }
    return QStringLiteral("uyarı: %1 (seçenekler: kavlento --yardım)")
        .arg(parts.join(QStringLiteral("; ")));
}

QString CommandLine::help() const {
    const QString code = hasLaunchCode() ? kLaunchCode : QStringLiteral("KOD");
    QString usage = QStringLiteral("Kullanım: kavlento %1 [OtoRadizEv] [SEÇENEK]\n").arg(code);
    if (!hasLaunchCode()) {
        usage += QStringLiteral(
            "\nKOD, Kavlento'yu başlatan programın verdiği başlatma kodudur; onu Kavlento'yu\n"
            "kuran kişiden öğrenin. Kod olmadan Kavlento hiçbir şey yapmadan kapanır.\n");
    }
    return usage +
           QStringLiteral(
               "\n"
               "  (seçeneksiz)            Kavlento penceresini açar.\n"
               "  OtoRadizEv              Soru sormadan bir yedek alır ve kapanır; sonucu\n"
               "                          saatiyle tek satır olarak standart hataya yazar.\n"
               "  --sakla N               OtoRadizEv ile: yeni yedek alınıp denetlendikten\n"
               "                          sonra hedef klasördeki en yeni N yedeği bırakır,\n"
               "                          Kavlento'nun aldığı daha eski yedekleri ve\n"
               "                          kayıtlarını siler.\n"
               "  --hedef KLASÖR          Pencere açmadan yedekleme hedefini kaydeder;\n"
               "                          OtoRadizEv ile: kaydeder, sonra oraya yedek alır.\n"
               "  --denetle               Geçmişteki her yedeği baştan sona okur (hiçbir\n"
               "                          şey yazmaz) ve her biri için bir satır yazar.\n"
               "  --durum [GÜN]           Yedeklerin durumunu yazar: en yeni yedek ve yaşı,\n"
               "                          yedek sayısı, hedef, diskinin takılı olup olmadığı\n"
               "                          ve boş yer (hiçbir yedeği baştan sona okumaz).\n"
               "                          En yeni yedek GÜN günden (2) genç değilse 11 ile biter.\n"
               "  --yardım, --help        Bu açıklamayı yazar.\n"
               "\n"
               "Seçenekler yalnızca bu yazılışlarıyla tanınır; başka sözcükler bir uyarıyla\n"
               "yok sayılır. OtoRadizEv verildiğinde yedek her durumda alınır.\n"
               "\n"
               "Çıkış durumları:\n"
               "  0  tamam: yedek alındı, geri yüklendi, seçenek yapıldı ya da program\n"
               "     kapatıldı\n"
               "  1  bir hata bildirildi, ya da ekran yanıt vermedi\n"
               "  2  otomatik yedek istendi, ama yedekleme hedefi seçilmemiş\n"
               "  3  Kavlento bu klasörde zaten çalışıyor; hiçbir şey yapılmadı\n"
               "  4  başlatma kodu yok\n"
               "  5  otomatik yedeğin ilerleme penceresi yedek bitmeden kapatıldı\n"
               "  6  pencere istendi, ama ekran yok\n"
               "  7  OtoRadizEv olmadan: bir seçeneğin değeri eksik ya da yanlış\n"
               "  8  --denetle bozuk bir yedek buldu\n"
               "  9  --denetle bazı yedekleri denetleyemedi (diskleri takılı değil ya da\n"
               "     dosyaları silinmiş), geçmişin bir satırını okuyamadı ya da geçmişte\n"
               "     hiç yedek yok\n"
               "  10 OtoRadizEv: yedek alındı, ama yanlış yazılmış ya da yerinde olmayan bir\n"
               "     seçenek yok sayıldı (uyarı satırı hangisi olduğunu söyler)\n"
               "  11 --durum: en yeni yedek yok ya da istenenden eski\n"
               "  12 --durum: en yeni yedeğin saati şimdiki saatten ileride; yedeklerin yaşı "
               "bilinemiyor\n"
               "  13 OtoRadizEv --sakla: yedek alındı, ama eski yedeklerden biri silinemedi, "
               "bozuk bulundu ya da silme durduruldu\n");
}

bool CommandLine::ignoresAnOption() const {
    // The administrator's options are all written as "--…"; the host's own
    // words are not his mistakes.
    return !setAside_.isEmpty() ||
           std::any_of(unknownWords_.begin(), unknownWords_.end(),
                       [](const QString& word) { return word.startsWith(QLatin1String("--")); });
}

} // namespace kavlento::app
