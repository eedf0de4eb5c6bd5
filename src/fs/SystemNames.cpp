#include "fs/SystemNames.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <string>

namespace kavlento::fs {

namespace {

// The longest name NTFS and exFAT hold, in UTF-16 units.
constexpr int kLongestName = 255;

bool isDeviceName(std::string_view name) {
    // The part before the first dot, less the blanks Windows drops: "con .txt"
    // opens the console too.
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') {
        stem.pop_back();
    }
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    static constexpr std::array<std::string_view, 4> kDevices = {"CON", "PRN", "AUX", "NUL"};
    if (std::find(kDevices.begin(), kDevices.end(), stem) != kDevices.end()) {
        return true;
    }
    return stem.size() == 4 && (stem.rfind("COM", 0) == 0 || stem.rfind("LPT", 0) == 0) &&
           stem[3] >= '1' && stem[3] <= '9';
}

} // namespace

std::optional<QString> windowsNameProblem(std::string_view name) {
    for (const char c : name) {
        if (static_cast<unsigned char>(c) < 0x20) {
            return QStringLiteral("adında denetim karakteri var");
        }
        if (std::string_view("<>:\"\\|?*").find(c) != std::string_view::npos) {
            return QStringLiteral("adında Windows'un kabul etmediği '%1' karakteri var")
                .arg(QLatin1Char(c));
        }
    }
    if (!name.empty() && (name.back() == '.' || name.back() == ' ') && name != "." &&
        name != "..") {
        return QStringLiteral("adı nokta ya da boşlukla bitiyor");
    }
    if (isDeviceName(name)) {
        return QStringLiteral("adı Windows'un bir aygıt adı");
    }
    if (QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())).size() > kLongestName) {
        return QStringLiteral("adı %1 karakterden uzun").arg(kLongestName);
    }
    return std::nullopt;
}

} // namespace kavlento::fs
