#include "base/Clock.h"

#include "base/Failure.h"

#include <windows.h>

#include <algorithm>
#include <ctime>

namespace kavlento {

namespace {

[[noreturn]] void throwRegionalFailure() {
    const DWORD error = GetLastError();
    throw Failure(FailureCode::Unexpected,
                  QStringLiteral("Bölgesel tarih ve saat ayarları okunamadı (Windows hata kodu %1)")
                      .arg(error));
}

// A text the system writes into a buffer it is first asked the size of
// (`call(nullptr, 0)`), counting the closing zero.
template <typename Call> QString systemText(Call call) {
    const int size = call(nullptr, 0);
    if (size <= 0) {
        throwRegionalFailure();
    }
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    if (call(text.data(), size) == 0) {
        throwRegionalFailure();
    }
    return QString::fromWCharArray(text.c_str(), size - 1);
}

QString localeText(LCTYPE type) {
    return systemText([type](wchar_t* buffer, int size) {
        return GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, size);
    });
}

SYSTEMTIME systemTimeOf(const std::tm& tm) {
    SYSTEMTIME time{};
    time.wYear = static_cast<WORD>(tm.tm_year + 1900);
    time.wMonth = static_cast<WORD>(tm.tm_mon + 1);
    time.wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    time.wDay = static_cast<WORD>(tm.tm_mday);
    time.wHour = static_cast<WORD>(tm.tm_hour);
    time.wMinute = static_cast<WORD>(tm.tm_min);
    time.wSecond = static_cast<WORD>(tm.tm_sec);
    return time;
}

// --- Reading a short date back ------------------------------------------------
// The short date picture is read for d, dd, M, MM, MMM, MMMM, y, yy, yyyy,
// quoted text and literal characters. Day names (ddd, dddd) and eras (g, gg)
// are not read: such a folder name never reads as a date.

class DateReader {
public:
    explicit DateReader(const QString& text) : text_(text) {}

    bool readsWhole(const QString& picture) {
        for (qsizetype p = 0; p < picture.size();) {
            const QChar c = picture[p];
            if (c == QLatin1Char('\'')) {
                const qsizetype close = picture.indexOf(QLatin1Char('\''), p + 1);
                // Quoted text is literal; two quotes in a row are one.
                if (close < 0 || !readLiteral(close == p + 1 ? QStringLiteral("'")
                                                             : picture.mid(p + 1, close - p - 1))) {
                    return false;
                }
                p = close + 1;
                continue;
            }
            qsizetype run = 1;
            while (p + run < picture.size() && picture[p + run] == c) {
                ++run;
            }
            const bool field = c == QLatin1Char('d') || c == QLatin1Char('M') ||
                               c == QLatin1Char('y') || c == QLatin1Char('g');
            if (field ? !readField(c, run) : !readLiteral(QString(c))) {
                return false;
            }
            p += field ? run : 1;
        }
        return at_ == text_.size();
    }

private:
    bool readLiteral(const QString& literal) {
        if (!text_.mid(at_).startsWith(literal)) {
            return false;
        }
        at_ += literal.size();
        return true;
    }

    bool readField(QChar c, qsizetype run) {
        if (c == QLatin1Char('d')) {
            return run <= 2 && readNumber(1, 2, 1, 31);
        }
        if (c == QLatin1Char('M')) {
            return run <= 2
                       ? readNumber(1, 2, 1, 12)
                       : readMonthName(run == 3 ? LOCALE_SABBREVMONTHNAME1 : LOCALE_SMONTHNAME1);
        }
        if (c == QLatin1Char('y')) {
            return run <= 2 ? readNumber(1, 2, 0, 99) : readNumber(4, 4, 0, 9999);
        }
        return false; // an era
    }

    bool readNumber(int fewest, int most, int lowest, int highest) {
        int digits = 0;
        int value = 0;
        while (digits < most && at_ + digits < text_.size() &&
               text_[at_ + digits].unicode() >= u'0' && text_[at_ + digits].unicode() <= u'9') {
            value = value * 10 + (text_[at_ + digits].unicode() - u'0');
            ++digits;
        }
        at_ += digits;
        return digits >= fewest && value >= lowest && value <= highest;
    }

    // The longest of the twelve names, as they stand alone or beside a day
    // (the genitive forms some languages use there).
    bool readMonthName(LCTYPE first) {
        qsizetype longest = 0;
        for (const LCTYPE form : {LCTYPE{0}, LCTYPE{LOCALE_RETURN_GENITIVE_NAMES}}) {
            for (LCTYPE month = 0; month < 12; ++month) {
                const QString name = localeText(form | (first + month));
                if (!name.isEmpty() && name.size() > longest &&
                    text_.mid(at_).startsWith(name, Qt::CaseInsensitive)) {
                    longest = name.size();
                }
            }
        }
        at_ += longest;
        return longest > 0;
    }

    const QString& text_;
    qsizetype at_ = 0;
};

} // namespace

std::tm localTime(std::time_t seconds) {
    // The C library reads times from 1970 to 3000 only; the archive's dates
    // (1980 to 2107) need no more, and others are clamped to those ends there.
    constexpr std::time_t kLastReadable = 32503680000; // 3000-01-01 UTC
    const std::time_t readable = std::clamp<std::time_t>(seconds, 0, kLastReadable);
    std::tm tm{};
    if (localtime_s(&tm, &readable) != 0) {
        tm = std::tm{}; // a time it refuses reads as one before the archive's dates
    }
    return tm;
}

bool readsAsShortDate(std::string text) {
    const QString picture = localeText(LOCALE_SSHORTDATE);
    QString name = QString::fromStdString(text);
    if (DateReader(name).readsWhole(picture)) {
        return true;
    }
    name.replace(QLatin1Char('-'), QLatin1Char('/'));
    return DateReader(name).readsWhole(picture);
}

// There are no regional settings to be missing on Windows, where a task the
// scheduler runs has its user's: `defaultsFiles`, for Linux's cron, is not read.
SystemClock::SystemClock(const std::vector<std::string>& /*defaultsFiles*/) {}

Moment SystemClock::now() const {
    const std::time_t now = std::time(nullptr);
    const std::tm tm = localTime(now);
    const SYSTEMTIME time = systemTimeOf(tm);
    Moment moment;
    moment.seconds = static_cast<std::int64_t>(now);
    moment.day = tm.tm_mday;
    moment.month = tm.tm_mon + 1;
    moment.year = tm.tm_year + 1900;
    moment.hour = tm.tm_hour;
    moment.minute = tm.tm_min;
    moment.second = tm.tm_sec;
    moment.dateText = systemText([&time](wchar_t* buffer, int size) {
        return GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &time, nullptr, buffer,
                               size, nullptr);
    });
    // With seconds, as the user's time format has them (Linux's `%X`).
    moment.timeText = systemText([&time](wchar_t* buffer, int size) {
        return GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &time, nullptr, buffer, size);
    });
    return moment;
}

} // namespace kavlento
