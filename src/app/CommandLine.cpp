#include "app/CommandLine.h"

namespace kavlento::app {

namespace {
const QString kLaunchCode = QStringLiteral("4702519836");
const QString kUnattendedKeyword = QStringLiteral("OtoRadizEv");
const QString kOption = QStringLiteral("--");
} // namespace

CommandLine CommandLine::fromArguments(const QStringList& argumentsAfterProgramName) {
    CommandLine line{QString()};
    line.readOptions(argumentsAfterProgramName);
    return line;
}

void CommandLine::refuse(const QString& why) {
    if (refusal_.isEmpty()) {
        refusal_ = why;
    }
}

void CommandLine::readOptions(const QStringList& arguments) {
    QStringList markers;
    const auto setCommand = [this](AdminCommand command) {
        if (command_ != AdminCommand::None && command_ != command) {
            refuse(QStringLiteral("--hedef, --denetle ve --yardım birlikte kullanılamaz."));
        }
        command_ = command;
    };
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (!argument.startsWith(kOption)) {
            markers.append(argument);
            continue;
        }
        // "--hedef=KLASÖR" as well as "--hedef KLASÖR".
        const qsizetype equals = argument.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? argument : argument.left(equals);
        const auto value = [&]() -> std::optional<QString> {
            if (equals >= 0) {
                return argument.mid(equals + 1);
            }
            if (i + 1 < arguments.size()) {
                return arguments[++i];
            }
            refuse(QStringLiteral("%1 seçeneğinin değeri eksik.").arg(name));
            return std::nullopt;
        };
        if (name == QStringLiteral("--yardım") || name == QLatin1String("--yardim") ||
            name == QLatin1String("--help")) {
            setCommand(AdminCommand::Help);
        } else if (name == QLatin1String("--hedef")) {
            setCommand(AdminCommand::StoreTarget);
            target_ = value().value_or(QString());
            if (target_.isEmpty()) {
                refuse(QStringLiteral("--hedef için bir klasör verin."));
            }
        } else if (name == QLatin1String("--denetle")) {
            setCommand(AdminCommand::CheckBackups);
        } else if (name == QLatin1String("--sakla")) {
            bool number = false;
            const int count = value().value_or(QString()).toInt(&number);
            if (!number || count < 1) {
                refuse(QStringLiteral("--sakla için 1 ya da daha büyük bir sayı verin."));
            }
            keep_ = count;
        } else {
            refuse(QStringLiteral("Bilinmeyen seçenek: %1").arg(argument));
        }
    }
    text_ = markers.join(QLatin1Char(' '));
    if (keep_ && (!isUnattended() || command_ != AdminCommand::None)) {
        refuse(QStringLiteral("--sakla yalnızca OtoRadizEv ile, tek başına kullanılır."));
    }
}

bool CommandLine::hasLaunchCode() const {
    return text_.contains(kLaunchCode, Qt::CaseSensitive);
}

bool CommandLine::isUnattended() const {
    return text_.contains(kUnattendedKeyword, Qt::CaseSensitive);
}

QString CommandLine::help() {
    return QStringLiteral(
        "Kullanım: kavlento 4702519836 [OtoRadizEv] [SEÇENEK]\n"
        "\n"
        "  (seçeneksiz)            Kavlento penceresini açar.\n"
        "  OtoRadizEv              Soru sormadan bir yedek alır ve kapanır; ekran yoksa\n"
        "                          sonucu tek satırla yazar.\n"
        "  --sakla N               OtoRadizEv ile: yeni yedek alınıp denetlendikten sonra\n"
        "                          hedef klasördeki en yeni N yedeği bırakır, Kavlento'nun\n"
        "                          aldığı daha eski yedekleri ve kayıtlarını siler.\n"
        "  --hedef KLASÖR          Pencere açmadan yedekleme hedefini kaydeder.\n"
        "  --denetle               Geçmişteki her yedeği baştan sona okur (hiçbir şey\n"
        "                          yazmaz) ve her biri için bir satır yazar.\n"
        "  --yardım, --help        Bu açıklamayı yazar.\n"
        "\n"
        "Çıkış durumları: 0 tamam, 1 hata, 2 hedef seçilmemiş, 3 Kavlento bu klasörde\n"
        "zaten çalışıyor, 4 başlatma kodu yok, 6 ekran yok, 7 seçenek hatalı,\n"
        "8 bozuk yedek bulundu.\n");
}

} // namespace kavlento::app
