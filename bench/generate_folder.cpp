// Writes a folder like a host application's data folder, the same bytes for
// the same profile, seed and size.
//
// The "default" profile: a few large database files (structured, compressible),
// many small text, configuration and report files, already-compressed pictures,
// some binaries, nested and hidden folders, and a few empty ones.
//
// The "small-files" profile: thousands of entries, most of 1-20 KB (records,
// settings, logs, reports, thumbnails, small attachments), a long tail of larger
// ones up to a few MB, about a third of the bytes already compressed, folders
// eight and more levels deep and some with many hundreds of files. It measures
// the cost per entry rather than the cost per byte.
//
//   generate_folder [--profile default|small-files] <folder> [megabytes] [seed=1]
//
// megabytes defaults to 300 for the default profile and 200 for small-files.

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <sys/stat.h>
#include <utility>
#include <vector>

namespace {

class Random {
public:
    explicit Random(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
    std::uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    std::uint64_t below(std::uint64_t n) { return next() % n; }

private:
    std::uint64_t state_;
};

const char* const kNames[] = {"Ahmet", "Ayşe",    "Mehmet", "Fatma",  "Mustafa", "Zeynep", "Ali",
                              "Elif",  "Hüseyin", "Şükrü",  "Gülşen", "İsmail",  "Özlem",  "Çağrı"};
const char* const kCities[] = {"İstanbul", "Ankara",    "İzmir",      "Bursa",     "Antalya",
                               "Konya",    "Şanlıurfa", "Diyarbakır", "Eskişehir", "Muğla"};
const char* const kWords[] = {"fatura", "tahsilat", "stok", "sipariş", "müşteri",  "iade", "ödeme",
                              "kasa",   "banka",    "çek",  "senet",   "irsaliye", "KDV"};

void makeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0 && errno != EEXIST) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() ||
        std::fclose(f) != 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
}

// Fixed-size pages of records, with some free space and index pages, like an
// embedded database file.
std::string database(std::size_t size, Random& r) {
    std::string out;
    out.reserve(size + 8192);
    char line[256];
    while (out.size() < size) {
        const std::size_t pageStart = out.size();
        if (r.below(10) == 0) { // an index page: sorted keys
            std::uint64_t key = r.below(1000000);
            while (out.size() - pageStart < 4096) {
                key += 1 + r.below(50);
                const int n = std::snprintf(line, sizeof line, "%010llu",
                                            static_cast<unsigned long long>(key));
                out.append(line, static_cast<std::size_t>(n));
                for (int i = 0; i < 6; ++i) {
                    out.push_back(static_cast<char>(r.below(256)));
                }
            }
        } else {
            while (out.size() - pageStart < 3600) {
                const int n = std::snprintf(
                    line, sizeof line, "%llu|%s %s|%s|%s|%llu.%02llu TL|2026-%02llu-%02llu|%s\n",
                    static_cast<unsigned long long>(r.below(10000000)), kNames[r.below(14)],
                    kNames[r.below(14)], kCities[r.below(10)], kWords[r.below(13)],
                    static_cast<unsigned long long>(r.below(100000)),
                    static_cast<unsigned long long>(r.below(100)),
                    static_cast<unsigned long long>(1 + r.below(12)),
                    static_cast<unsigned long long>(1 + r.below(28)), kWords[r.below(13)]);
                out.append(line, static_cast<std::size_t>(n));
            }
        }
        out.resize(pageStart + 4096, '\0'); // free space at the end of the page
    }
    out.resize(size);
    return out;
}

std::string text(std::size_t size, Random& r) {
    std::string out;
    out.reserve(size + 64);
    while (out.size() < size) {
        out += kWords[r.below(13)];
        out += r.below(8) == 0 ? "\n" : " ";
        if (r.below(5) == 0) {
            out += kCities[r.below(10)];
            out += ' ';
        }
        if (r.below(4) == 0) {
            out += std::to_string(r.below(100000));
            out += ' ';
        }
    }
    out.resize(size);
    return out;
}

std::string noise(std::size_t size, Random& r) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        const std::uint64_t v = r.next();
        std::memcpy(&out[i], &v, std::min<std::size_t>(8, size - i));
    }
    return out;
}

// Code-like: runs of zeros and tables among incompressible stretches.
std::string binary(std::size_t size, Random& r) {
    std::string out;
    out.reserve(size);
    while (out.size() < size) {
        const std::size_t run = 256 + r.below(8192);
        switch (r.below(3)) {
        case 0:
            out.append(run, '\0');
            break;
        case 1:
            out += noise(run, r);
            break;
        default:
            for (std::size_t i = 0; i < run; ++i) {
                out.push_back(static_cast<char>((i * 7) & 0xff));
            }
        }
    }
    out.resize(size);
    return out;
}

// The profile earlier figures were measured on: keep its bytes unchanged.
void defaultProfile(const std::string& root, std::uint64_t total, Random& r) {
    // Shares of the bytes: databases 55 %, small files 15 %, pictures 15 %, binaries 15 %.
    makeFolder(root + "/veri");
    const int databases = 4;
    for (int i = 0; i < databases; ++i) {
        writeFile(root + "/veri/kayitlar" + std::to_string(i) + ".db",
                  database(total * 55 / 100 / databases, r));
    }

    const std::uint64_t smallBytes = total * 15 / 100;
    const char* const folders[] = {"raporlar", "ayarlar", "belgeler", ".önbellek", "günlükler"};
    std::uint64_t written = 0;
    for (int i = 0; written < smallBytes; ++i) {
        const std::string folder = root + "/" + folders[i % 5];
        const std::string sub = folder + "/" + std::to_string(2020 + i % 7);
        const std::string deep = sub + "/ay" + std::to_string(1 + i % 12);
        makeFolder(folder);
        makeFolder(sub);
        makeFolder(deep);
        const std::size_t size = 512 + r.below(i % 10 == 0 ? 200000 : 24000);
        const std::string name = (i % 17 == 0 ? "." : "") + std::string(kWords[i % 13]) + "_" +
                                 std::to_string(i) + (i % 3 == 0 ? ".ini" : ".txt");
        writeFile(deep + "/" + name, text(size, r));
        written += size;
    }

    makeFolder(root + "/resimler");
    for (std::uint64_t done = 0, i = 0; done < total * 15 / 100; ++i) {
        const std::size_t size = 40000 + r.below(600000);
        writeFile(root + "/resimler/foto" + std::to_string(i) + ".jpg", noise(size, r));
        done += size;
    }

    makeFolder(root + "/bin");
    for (std::uint64_t done = 0, i = 0; done < total * 15 / 100; ++i) {
        const std::size_t size = 500000 + r.below(6000000);
        writeFile(root + "/bin/modul" + std::to_string(i) + ".so", binary(size, r));
        done += size;
    }

    makeFolder(root + "/boş klasör");
    makeFolder(root + "/.gizli");
    makeFolder(root + "/.gizli/boş");
    writeFile(root + "/.gizli/anahtar", text(300, r));
}

// ---- The small-files profile ----

int pick(Random& r, int n) {
    return static_cast<int>(r.below(static_cast<std::uint64_t>(n)));
}

__attribute__((format(printf, 2, 3))) void appendf(std::string& out, const char* format, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0) {
        out.append(buffer, std::min(static_cast<std::size_t>(n), sizeof buffer - 1));
    }
}

// A size between lo and hi whose logarithm is about evenly spread, so that small
// files are many and large ones few. Steps of about 1/16 octave in integers: every
// platform draws the same sizes.
std::size_t spread(std::size_t lo, std::size_t hi, Random& r) {
    const auto step = [](std::size_t v) { return v + v / 23 + 1; };
    std::size_t steps = 0;
    for (std::size_t v = lo; v < hi; v = step(v)) {
        ++steps;
    }
    if (steps == 0) {
        return lo;
    }
    std::size_t v = lo;
    for (std::uint64_t k = r.below(steps); k > 0; --k) {
        v = step(v);
    }
    return v + r.below(std::min(step(v), hi) - v);
}

const char* const kSurnames[] = {"Yılmaz", "Kaya",    "Demir",   "Şahin",  "Çelik", "Yıldız",
                                 "Öztürk", "Aydın",   "Özdemir", "Arslan", "Doğan", "Kılıç",
                                 "Aslan",  "Çetin",   "Koç",     "Kurt",   "Özkan", "Şimşek",
                                 "Polat",  "Korkmaz", "Güneş",   "Aksoy",  "Ünal",  "Bulut"};
const char* const kMonths[] = {"Ocak",   "Şubat",   "Mart",  "Nisan", "Mayıs", "Haziran",
                               "Temmuz", "Ağustos", "Eylül", "Ekim",  "Kasım", "Aralık"};
const char* const kUnits[] = {"adet", "kg", "lt", "m", "koli", "paket"};
const char* const kModules[] = {"Aktarım", "Fatura", "Stok",  "Banka",  "Yedek",
                                "Ağ",      "Yazıcı", "Rapor", "Oturum", "Eşitleme"};

// Words of a made-up language that reads like Turkish. Enough of them, drawn
// with a skew towards the frequent ones, that text compresses about as real
// text does (a few times), not like a short list repeated.
class Lexicon {
public:
    explicit Lexicon(Random& r) {
        static const char* const onsets[] = {"b", "c", "ç", "d", "f", "g", "h", "k", "l", "m",
                                             "n", "p", "r", "s", "ş", "t", "v", "y", "z", ""};
        static const char* const vowels[] = {"a", "e", "ı", "i", "o", "ö", "u", "ü"};
        static const char* const codas[] = {"",  "",  "",  "",  "",  "n", "r", "l",
                                            "k", "m", "t", "ş", "z", "s", "ğ"};
        words_.reserve(kCount);
        for (int i = 0; i < kCount; ++i) {
            std::string word;
            const int syllables = 1 + pick(r, 3) + (pick(r, 4) == 0 ? 1 : 0);
            for (int s = 0; s < syllables; ++s) {
                word += onsets[pick(r, 20)];
                word += vowels[pick(r, 8)];
                word += codas[pick(r, 15)];
            }
            words_.push_back(word);
        }
    }

    const std::string& word(Random& r) const {
        return words_[r.below(r.below(r.below(words_.size()) + 1) + 1)];
    }

    // Settings keys and the like: a small set that recurs.
    const std::string& common(Random& r) const { return words_[r.below(kCommon)]; }

    std::string sentence(Random& r) const {
        std::string out;
        const int words = 4 + pick(r, 13);
        for (int i = 0; i < words; ++i) {
            if (i > 0) {
                out += pick(r, 12) == 0 ? ", " : " ";
            }
            switch (pick(r, 16)) {
            case 0:
                out += std::to_string(r.below(100000));
                break;
            case 1:
                out += kCities[pick(r, 10)];
                break;
            case 2:
                out += kWords[pick(r, 13)];
                break;
            case 3:
                out += kNames[pick(r, 14)];
                break;
            default:
                out += word(r);
            }
        }
        if (out[0] >= 'a' && out[0] <= 'z') {
            out[0] = static_cast<char>(out[0] - 'a' + 'A');
        }
        out += '.';
        return out;
    }

private:
    static constexpr int kCount = 3000;
    static constexpr int kCommon = 300;
    std::vector<std::string> words_;
};

struct Date {
    int year, month, day;
};

Date someDate(Random& r) {
    return {2019 + pick(r, 8), 1 + pick(r, 12), 1 + pick(r, 28)};
}

// 1234567 kuruş -> "12.345,67", as amounts are written here.
std::string amount(long long kurus) {
    std::string whole = std::to_string(kurus / 100);
    for (int i = static_cast<int>(whole.size()) - 3; i > 0; i -= 3) {
        whole.insert(static_cast<std::size_t>(i), ".");
    }
    char cents[8];
    std::snprintf(cents, sizeof cents, ",%02lld", kurus % 100);
    return whole + cents;
}

long long money(Random& r) {
    return static_cast<long long>(r.below(r.below(100000000) + 1)); // mostly small amounts
}

std::string person(Random& r) {
    return std::string(kNames[pick(r, 14)]) + " " + kSurnames[pick(r, 24)];
}

// An invoice or customer record, as an XML export of the host's records.
std::string record(std::size_t size, long long number, Random& r, const Lexicon& lex) {
    std::string out;
    out.reserve(size + 600);
    const Date d = someDate(r);
    appendf(out,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
            "<kayıt no=\"%lld\" tür=\"%s\" tarih=\"%04d-%02d-%02dT%02d:%02d:%02d\" şube=\"%s\">\n",
            number, kWords[pick(r, 13)], d.year, d.month, d.day, pick(r, 24), pick(r, 60),
            pick(r, 60), kCities[pick(r, 10)]);
    appendf(out,
            "  <cari kod=\"C-%05d\" vkn=\"%010lld\">\n    <ad>%s</ad>\n"
            "    <adres>%s %s Cad. No:%d D:%d, %s</adres>\n"
            "    <telefon>+90 5%02d %03d %02d %02d</telefon>\n  </cari>\n",
            pick(r, 100000), static_cast<long long>(r.below(10000000000ull)), person(r).c_str(),
            lex.word(r).c_str(), lex.word(r).c_str(), 1 + pick(r, 250), 1 + pick(r, 30),
            kCities[pick(r, 10)], pick(r, 60), pick(r, 1000), pick(r, 100), pick(r, 100));
    for (int line = 1; out.size() < size; ++line) {
        if (pick(r, 5) == 0) {
            out += "  <not>" + lex.sentence(r) + "</not>\n";
            continue;
        }
        const int quantity = 1 + pick(r, 200);
        const long long price = money(r) / 100 + 1;
        appendf(out,
                "  <satır sıra=\"%d\" stok=\"STK-%05d\" ad=\"%s %s\" miktar=\"%d\" birim=\"%s\" "
                "fiyat=\"%s\" kdv=\"%d\" tutar=\"%s\"/>\n",
                line, pick(r, 100000), lex.word(r).c_str(), lex.word(r).c_str(), quantity,
                kUnits[pick(r, 6)], amount(price).c_str(), pick(r, 3) == 0 ? 10 : 20,
                amount(price * quantity).c_str());
    }
    out += "</kayıt>\n";
    return out;
}

// One day of a module's log.
std::string logText(std::size_t size, Date d, Random& r, const Lexicon& lex) {
    static const char* const levels[] = {"BİLGİ",   "BİLGİ",   "BİLGİ", "BİLGİ",
                                         "AYRINTI", "AYRINTI", "UYARI", "HATA"};
    std::string out;
    out.reserve(size + 1200);
    long long ms = 7 * 3600000LL + pick(r, 3600000);
    while (out.size() < size) {
        ms += pick(r, 30000);
        const long long t = ms % 86400000;
        const int level = pick(r, 8);
        appendf(out,
                "%04d-%02d-%02d %02lld:%02lld:%02lld.%03lld %-8s [%s] oturum=%08llx "
                "kullanıcı=%s kayıt=C-%05d süre=%dms ",
                d.year, d.month, d.day, t / 3600000, t / 60000 % 60, t / 1000 % 60, t % 1000,
                levels[level], kModules[pick(r, 10)],
                static_cast<unsigned long long>(r.below(0x100000000ull)), kNames[pick(r, 14)],
                pick(r, 100000), pick(r, pick(r, 5000) + 1));
        out += lex.sentence(r);
        out += '\n';
        for (int i = level == 7 ? 2 + pick(r, 4) : 0; i > 0; --i) {
            appendf(out, "    konum: %s::%s (%s.cpp:%d)\n", kModules[pick(r, 10)],
                    lex.word(r).c_str(), lex.word(r).c_str(), 1 + pick(r, 3000));
        }
    }
    return out;
}

// An account statement or stock list, as CSV or as an HTML page.
std::string report(std::size_t size, bool html, Random& r, const Lexicon& lex) {
    std::string out;
    out.reserve(size + 1200);
    const Date d = someDate(r);
    if (html) {
        appendf(out,
                "<!DOCTYPE html>\n<html lang=\"tr\"><head><meta charset=\"utf-8\">"
                "<title>%s raporu %02d.%02d.%04d</title>\n<style>td{padding:2px 6px}"
                " .t{text-align:right}</style></head>\n<body><h1>%s %s</h1>\n<table>\n"
                "<tr><th>Tarih</th><th>Belge No</th><th>Cari</th><th>Açıklama</th>"
                "<th>Borç</th><th>Alacak</th><th>Bakiye</th></tr>\n",
                kWords[pick(r, 13)], d.day, d.month, d.year, kCities[pick(r, 10)],
                kWords[pick(r, 13)]);
    } else {
        out += "Tarih;Belge No;Cari;Açıklama;Borç;Alacak;Bakiye\n";
    }
    long long balance = 0;
    while (out.size() < size) {
        const long long debit = pick(r, 2) == 0 ? money(r) : 0;
        const long long credit = debit == 0 ? money(r) : 0;
        balance += debit - credit;
        const std::string text = lex.word(r) + " " + kWords[pick(r, 13)] + " " + lex.word(r);
        appendf(out,
                html ? "<tr><td>%02d.%02d.%04d</td><td>FT-%04d-%06d</td><td>%s</td><td>%s</td>"
                       "<td>%s</td><td>%s</td><td>%s</td></tr>\n"
                     : "%02d.%02d.%04d;FT-%04d-%06d;%s;%s;%s;%s;%s\n",
                1 + pick(r, 28), d.month, d.year, d.year, pick(r, 1000000), person(r).c_str(),
                text.c_str(), amount(debit).c_str(), amount(credit).c_str(),
                amount(balance).c_str());
    }
    if (html) {
        out += "</table></body></html>\n";
    }
    return out;
}

// A settings file: INI sections of keys and values.
std::string settings(std::size_t size, Random& r, const Lexicon& lex) {
    static const char* const sections[] = {"Genel",      "Görünüm",       "Yazıcı",     "Bağlantı",
                                           "Kısayollar", "Son Açılanlar", "Pencereler", "Eşitleme"};
    std::string out;
    while (out.size() < size) {
        appendf(out, "[%s]\n", sections[pick(r, 8)]);
        for (int i = 3 + pick(r, 10); i > 0 && out.size() < size; --i) {
            const std::string key =
                lex.common(r) + (pick(r, 3) == 0 ? "_" + lex.common(r) : std::string());
            switch (pick(r, 8)) {
            case 0:
                appendf(out, "%s=%d\n", key.c_str(), pick(r, pick(r, 100000) + 1));
                break;
            case 1:
                appendf(out, "%s=%s\n", key.c_str(), pick(r, 2) == 0 ? "Evet" : "Hayır");
                break;
            case 2:
                appendf(out, "%s=192.168.%d.%d:%d\n", key.c_str(), pick(r, 256), pick(r, 256),
                        1024 + pick(r, 60000));
                break;
            case 3:
                appendf(out, "%s=%d,%d,%d,%d\n", key.c_str(), pick(r, 800), pick(r, 600),
                        320 + pick(r, 1600), 240 + pick(r, 900));
                break;
            case 4:
                appendf(out, "%s=%s\\%s\\%s.%s\n", key.c_str(), kCities[pick(r, 10)],
                        lex.word(r).c_str(), lex.word(r).c_str(), pick(r, 2) ? "xml" : "csv");
                break;
            case 5:
                appendf(out, "%s=%016llx\n", key.c_str(),
                        static_cast<unsigned long long>(r.next()));
                break;
            default:
                appendf(out, "%s=%s %s\n", key.c_str(), lex.word(r).c_str(), lex.word(r).c_str());
            }
        }
        out += '\n';
    }
    return out;
}

// Free text: notes, letters, descriptions.
std::string prose(std::size_t size, Random& r, const Lexicon& lex) {
    std::string out;
    out.reserve(size + 300);
    while (out.size() < size) {
        out += lex.sentence(r);
        out += pick(r, 6) == 0 ? "\n\n" : " ";
    }
    return out;
}

// A cached answer of a web service.
std::string cacheEntry(std::size_t size, Random& r, const Lexicon& lex) {
    std::string out;
    appendf(out, "{\"anahtar\":\"%016llx%016llx\",\"zaman\":%lld,\"kayıtlar\":[",
            static_cast<unsigned long long>(r.next()), static_cast<unsigned long long>(r.next()),
            1546300800LL + static_cast<long long>(r.below(250000000)));
    for (bool first = true; out.size() < size; first = false) {
        appendf(out, "%s{\"kod\":\"C-%05d\",\"ad\":\"%s\",\"bakiye\":\"%s\",\"açıklama\":\"%s\"}",
                first ? "" : ",", pick(r, 100000), person(r).c_str(), amount(money(r)).c_str(),
                lex.sentence(r).c_str());
    }
    out += "]}\n";
    return out;
}

void put16(std::string& out, unsigned v) {
    out.push_back(static_cast<char>(v & 0xff));
    out.push_back(static_cast<char>((v >> 8) & 0xff));
}

void put32(std::string& out, std::uint32_t v) {
    put16(out, v & 0xffff);
    put16(out, v >> 16);
}

// A photo or thumbnail: JPEG markers and tables around entropy-coded bytes.
std::string jpegLike(std::size_t size, Random& r) {
    static const unsigned char start[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',  'F',  'I',
                                          'F',  0x00, 0x01, 0x01, 0x00, 0x00, 0x48, 0x00, 0x48,
                                          0x00, 0x00, 0xFF, 0xDB, 0x00, 0x43, 0x00};
    std::string out(reinterpret_cast<const char*>(start), sizeof start);
    for (int i = 0; i < 64; ++i) {
        out.push_back(static_cast<char>(2 + i / 3 + pick(r, 4)));
    }
    static const unsigned char frame[] = {0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0x80,
                                          0x03, 0x01, 0x22, 0x00, 0x02, 0x11, 0x01, 0x03, 0x11,
                                          0x01, 0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00, 0x02,
                                          0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
    out.append(reinterpret_cast<const char*>(frame), sizeof frame);
    if (size > out.size() + 2) {
        out += noise(size - out.size() - 2, r);
    }
    out += "\xFF\xD9";
    return out;
}

// A zip archive, as attachments and exports are: headers around deflated,
// random-looking members.
std::string zipLike(std::size_t size, Random& r, const Lexicon& lex) {
    const int members = 1 + pick(r, 6);
    const std::size_t each = std::max<std::size_t>(256, size / static_cast<std::size_t>(members));
    std::string out;
    std::string directory;
    for (int i = 0; i < members; ++i) {
        const std::string name =
            lex.word(r) + "_" + std::to_string(pick(r, 1000)) + (pick(r, 2) == 0 ? ".xml" : ".pdf");
        const std::uint32_t crc = static_cast<std::uint32_t>(r.next());
        const std::uint32_t packed = static_cast<std::uint32_t>(each - 30 - name.size());
        const std::uint32_t offset = static_cast<std::uint32_t>(out.size());
        std::string common;
        put16(common, 20);     // version needed
        put16(common, 0x0800); // names in UTF-8
        put16(common, 8);      // deflated
        put32(common, static_cast<std::uint32_t>(r.next()));
        put32(common, crc);
        put32(common, packed);
        put32(common, packed * 3);
        put16(common, static_cast<unsigned>(name.size()));
        put16(common, 0);
        out += "PK\x03\x04" + common + name + noise(packed, r);
        directory += "PK\x01\x02";
        put16(directory, 0x031E);
        directory += common;
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, offset);
        directory += name;
    }
    const std::uint32_t at = static_cast<std::uint32_t>(out.size());
    out += directory;
    out += "PK\x05\x06";
    put32(out, 0);
    put16(out, static_cast<unsigned>(members));
    put16(out, static_cast<unsigned>(members));
    put32(out, static_cast<std::uint32_t>(directory.size()));
    put32(out, at);
    put16(out, 0);
    return out;
}

// Makes each folder once, however many files go into it.
class Tree {
public:
    explicit Tree(std::string root) : root_(std::move(root)) {}

    std::string folder(const std::string& relative) {
        if (made_.insert(relative).second) {
            for (std::size_t slash = relative.find('/'); slash != std::string::npos;
                 slash = relative.find('/', slash + 1)) {
                makeFolder(root_ + "/" + relative.substr(0, slash));
            }
            makeFolder(root_ + "/" + relative);
        }
        return root_ + "/" + relative;
    }

    std::size_t file(const std::string& folderName, const std::string& name,
                     const std::string& bytes) {
        writeFile(folder(folderName) + "/" + name, bytes);
        return bytes.size();
    }

private:
    std::string root_;
    std::set<std::string> made_;
};

__attribute__((format(printf, 1, 2))) std::string numbered(const char* format, ...) {
    std::string out;
    char buffer[256];
    va_list args;
    va_start(args, format);
    const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n > 0) {
        out.assign(buffer, std::min(static_cast<std::size_t>(n), sizeof buffer - 1));
    }
    return out;
}

void smallFilesProfile(const std::string& root, std::uint64_t total, Random& r) {
    Tree tree(root);
    const Lexicon lex(r);
    const auto share = [total](std::uint64_t permille) { return total * permille / 1000; };
    // Calls write() until it has written the budget's bytes.
    const auto fill = [](std::uint64_t budget, auto write) {
        for (std::uint64_t done = 0; done < budget;) {
            done += write();
        }
    };

    // Folders of the document archive: year, branch, department, kind, month, day,
    // sometimes attachments below, so files sit 9 to 11 levels deep.
    static const char* const departments[] = {"muhasebe", "satış", "insan kaynakları", "depo",
                                              "yönetim"};
    static const char* const kinds[] = {"gelen faturalar", "giden faturalar", "sözleşmeler",
                                        "yazışmalar", "taramalar"};
    std::vector<std::string> archive;
    for (std::uint64_t i = 0, n = std::max<std::uint64_t>(4, total >> 22); i < n; ++i) {
        const int month = pick(r, 12);
        std::string path = "belgeler/arşiv/" + std::to_string(2019 + pick(r, 8)) + "/" +
                           kCities[pick(r, 10)] + " şubesi/" + departments[pick(r, 5)] + "/" +
                           kinds[pick(r, 5)] + "/" + numbered("%02d ", month + 1) + kMonths[month] +
                           "/" + numbered("%02d", 1 + pick(r, 28));
        if (pick(r, 3) == 0) {
            path += pick(r, 2) == 0 ? "/ekler" : "/ekler/eski sürümler";
        }
        archive.push_back(path);
    }
    const auto archiveFolder = [&]() -> const std::string& {
        return archive[r.below(r.below(archive.size()) + 1)];
    };

    // Shares of the bytes, in permille. Incompressible: thumbnails, photos, scans,
    // attachments, half the cache and half the large files, about a third in all.
    long long n = 0;
    fill(share(70), [&] { // customer cards, one wide folder
        ++n;
        return tree.file("veri/cariler", numbered("C-%05lld.xml", n),
                         record(spread(1500, 20000, r), n, r, lex));
    });
    fill(share(110), [&] { // invoices, a wide folder a year
        const int year = 2019 + pick(r, 8);
        ++n;
        return tree.file("veri/faturalar/" + std::to_string(year),
                         "fatura_" + std::to_string(year) + numbered("_%06lld.xml", n),
                         record(spread(1500, 20000, r), n, r, lex));
    });
    for (int year = 2019; year < 2027; ++year) { // the host's hidden index of each year
        tree.file("veri/faturalar/" + std::to_string(year), ".dizin",
                  prose(spread(200, 4000, r), r, lex));
    }
    n = 0;
    fill(share(95), [&] { // product thumbnails, one wide folder
        ++n;
        return tree.file("resimler/ürünler/küçük", numbered("ürün_%05lld_küçük.jpg", n),
                         jpegLike(spread(2500, 20000, r), r));
    });
    fill(share(20), [&] { // thumbnails again, in a hidden cache fanned out by hash
        const std::uint64_t hash = r.next();
        return tree.file(
            numbered(".önbellek/küçük resimler/%llx", static_cast<unsigned long long>(hash & 15)),
            numbered("%015llx.jpg", static_cast<unsigned long long>(hash >> 4)),
            jpegLike(spread(2000, 12000, r), r));
    });
    n = 0;
    fill(share(75), [&] { // product photos
        ++n;
        return tree.file("resimler/ürünler", numbered("ürün_%05lld.jpg", n),
                         jpegLike(spread(40000, 600000, r), r));
    });
    fill(share(25), [&] { // scanned documents, deep in the archive
        ++n;
        return tree.file(archiveFolder(), numbered("tarama_%05lld.jpg", n),
                         jpegLike(spread(30000, 400000, r), r));
    });
    fill(share(40), [&] { // attachments, deep in the archive
        ++n;
        return tree.file(archiveFolder(), lex.word(r) + numbered("_%05lld.zip", n),
                         zipLike(spread(3000, 120000, r), r, lex));
    });
    fill(share(50), [&] { // notes and letters, deep in the archive
        ++n;
        return tree.file(archiveFolder(),
                         (pick(r, 20) == 0 ? "." : "") + lex.word(r) + numbered("_%05lld.txt", n),
                         prose(spread(1500, 40000, r), r, lex));
    });
    Date day{2023, 1, 1};
    fill(share(145), [&] { // a log a day and module, with a hidden error log on some days
        if (++day.day > 28) {
            day.day = 1;
            if (++day.month > 12) {
                day.month = 1;
                ++day.year;
            }
        }
        const std::string folder =
            "günlükler/" + std::to_string(day.year) + "/" + numbered("%02d", day.month);
        const std::string date =
            std::to_string(day.year) + numbered("-%02d", day.month) + numbered("-%02d", day.day);
        std::size_t written = 0;
        for (int module = 0; module < 3; ++module) {
            written += tree.file(folder, std::string(kModules[module * 3]) + "_" + date + ".log",
                                 logText(spread(2000, 120000, r), day, r, lex));
        }
        if (pick(r, 10) == 0) {
            written += tree.file(folder, ".hata_" + date + ".log",
                                 logText(spread(500, 8000, r), day, r, lex));
        }
        return written;
    });
    static const char* const reports[] = {"mizan", "cari ekstre", "stok durumu", "kasa raporu",
                                          "KDV özeti"};
    n = 0;
    fill(share(160), [&] { // reports by kind and year, a few in the archive
        const bool html = pick(r, 3) == 0;
        const int kind = pick(r, 5);
        const std::string folder = pick(r, 5) == 0 ? archiveFolder()
                                                   : "raporlar/" + std::string(reports[kind]) +
                                                         "/" + std::to_string(2019 + pick(r, 8));
        ++n;
        return tree.file(
            folder, std::string(reports[kind]) + numbered("_%05lld", n) + (html ? ".html" : ".csv"),
            report(spread(3000, 300000, r), html, r, lex));
    });
    n = 0;
    fill(share(10), [&] { // settings of each user and workstation
        ++n;
        const std::string user = "ayarlar/kullanıcılar/" + person(r) + numbered(" %lld", n);
        std::size_t written = tree.file(user, ".son_oturum", numbered("%lld\n", n * 7919));
        for (int i = 2 + pick(r, 5); i > 0; --i) {
            written += tree.file(pick(r, 2) == 0 ? user : user + "/modüller", lex.word(r) + ".ini",
                                 settings(spread(150, 6000, r), r, lex));
        }
        return written;
    });
    fill(share(30), [&] { // plug-ins
        ++n;
        return tree.file("eklentiler", lex.word(r) + numbered("_%lld.dll", n),
                         binary(spread(40000, 800000, r), r));
    });
    fill(share(40), [&] { // a hidden cache of answers and blobs
        const std::uint64_t hash = r.next();
        const std::string folder =
            numbered(".önbellek/veri/%02llx", static_cast<unsigned long long>(hash & 0x1f));
        const std::string name = numbered("%014llx", static_cast<unsigned long long>(hash >> 8));
        return pick(r, 2) == 0
                   ? tree.file(folder, name + ".json", cacheEntry(spread(1000, 20000, r), r, lex))
                   : tree.file(folder, name + ".bin", noise(spread(1000, 20000, r), r));
    });

    // The long tail: a few files of some megabytes, in a small folder no more
    // than their share.
    const auto largeFile = [&](int k, std::size_t size) {
        const std::string year = std::to_string(2020 + k % 7);
        switch (k % 6) {
        case 0:
            return tree.file("yedek", "aktarım_" + year + ".zip", zipLike(size, r, lex));
        case 1:
            return tree.file("günlükler/arşiv", "sunucu_" + year + ".log",
                             logText(size, Date{2020 + k % 7, 12, 31}, r, lex));
        case 2:
            return tree.file("resimler/katalog", "katalog_" + year + ".jpg", jpegLike(size, r));
        case 3:
            return tree.file("raporlar/yıl sonu", "yıl_sonu_" + year + ".html",
                             report(size, true, r, lex));
        case 4:
            return tree.file("güncellemeler", "kurulum_" + year + ".paket", noise(size, r));
        default:
            return tree.file("veri", "arşiv_" + year + ".xml", record(size, k, r, lex));
        }
    };
    std::uint64_t left = share(130);
    for (int k = 0; left >= (k == 0 ? 1u : 1u << 20); ++k) {
        const std::size_t size = std::min<std::uint64_t>(spread(1 << 20, 5 << 20, r), left);
        left -= std::min<std::uint64_t>(left, largeFile(k, size));
    }

    tree.file("veri", ".kilit", "0\n");
    tree.file(".gizli", "anahtar", prose(300, r, lex));
    tree.folder(".gizli/boş");
    tree.folder("boş klasör");
    tree.folder("geçici");
    tree.folder(".önbellek/kilitler");
    tree.folder("yedek/eski");
    tree.folder(archive.front() + "/iptal edilenler");
}

} // namespace

int main(int argc, char** argv) {
    std::string profile = "default";
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--profile" && i + 1 < argc) {
            profile = argv[++i];
        } else {
            args.push_back(arg);
        }
    }
    const bool smallFiles = profile == "small-files";
    if (args.empty() || args.size() > 3 || (profile != "default" && !smallFiles)) {
        std::fprintf(stderr,
                     "usage: %s [--profile default|small-files] <folder> [megabytes] [seed=1]\n",
                     argv[0]);
        return 2;
    }
    const std::string root = args[0];
    const std::uint64_t megabytes = args.size() > 1 ? std::strtoull(args[1].c_str(), nullptr, 10)
                                    : smallFiles    ? 200
                                                    : 300;
    Random r(args.size() > 2 ? std::strtoull(args[2].c_str(), nullptr, 10) : 1);
    const std::uint64_t total = megabytes << 20;
    makeFolder(root);
    if (smallFiles) {
        smallFilesProfile(root, total, r);
    } else {
        defaultProfile(root, total, r);
    }
    return 0;
}
