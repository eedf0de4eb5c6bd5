// Writes a folder like a host application's data folder, the same bytes for
// the same seed and size: a few large database files (structured, compressible),
// many small text, configuration and report files, already-compressed pictures,
// some binaries, nested and hidden folders, and a few empty ones.
//
//   generate_folder <folder> [megabytes=300] [seed=1]

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
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

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s <folder> [megabytes=300] [seed=1]\n", argv[0]);
        return 2;
    }
    const std::string root = argv[1];
    const std::uint64_t megabytes = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 300;
    Random r(argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 1);
    const std::uint64_t total = megabytes << 20;
    makeFolder(root);

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
    return 0;
}
