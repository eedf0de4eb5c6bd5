// What Kavlento backs up, it restores: the same tree, byte for byte, links as
// links, names as they are on this system, times to 100 ns in any year.
#include "support/ArchiveJobsTestBase.h"

#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

using namespace kavlento;
using namespace kavlento::testing;

namespace {

// Names a user's folder can really hold here, the odd ones most of all.
const std::vector<std::string> kNames = {"rapor\\2024.txt",
                                         "1:1 toplantı.txt",
                                         "x",
                                         "x\\y",
                                         "C:",
                                         "bozuk-\xff\xfe-utf8",
                                         "İÇERİK ğüşöçı",
                                         "日本語",
                                         "-tire",
                                         " boşluklu ",
                                         "yeni\nsatır",
                                         "sekme\tli",
                                         ".gizli",
                                         "..iki nokta",
                                         "a.b.c",
                                         std::string(200, 'u'),
                                         "#%&*?<>|\"",
                                         "emoji \xf0\x9f\x98\x80",
                                         "Aa",
                                         "aa",
                                         "yedek.ksd",
                                         "sonu ters bölü\\"};

// Where a link may point: inside, outside, through another link, nowhere.
const std::vector<std::string> kLinkTargets = {
    "/etc/passwd", "../../dışarı", "x", "x\\y", "..\\ters\\bölü",
    "C:\\Windows", "yok/hiç",      ".", "..",   "bag/../x"};

// A new file, never through a link of the tree (some point at system files);
// false when the name is taken.
bool writeNew(const std::string& path, const std::string& bytes, unsigned mode = 0644,
              const struct timespec* modified = nullptr) {
    const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW, 0600);
    if (fd < 0) {
        EXPECT_EQ(errno, EEXIST) << path;
        return false;
    }
    EXPECT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    const struct timespec times[2] = {{0, UTIME_OMIT},
                                      modified ? *modified : timespec{0, UTIME_NOW}};
    EXPECT_EQ(::fchmod(fd, mode), 0);
    EXPECT_EQ(::futimens(fd, times), 0);
    ::close(fd);
    return true;
}

class TreeMaker {
public:
    TreeMaker(const std::string& root, unsigned seed) : root_(root), random_(seed) {}

    void make(int depth) {
        fill(root_, depth);
        // Folders get their modes last, deepest first, as their contents need
        // writable folders to arrive in.
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) {
            ::chmod(it->first.c_str(), it->second);
        }
    }

private:
    void fill(const std::string& folder, int depth) {
        const int count = pick(2, 12);
        for (int i = 0; i < count; ++i) {
            const std::string path = folder + "/" + freshName();
            switch (pick(0, 9)) {
            case 0:
            case 1:
            case 2:
                if (depth > 0) {
                    if (::mkdir(path.c_str(), 0755) == 0) {
                        folders_.emplace_back(path, pickOf({0755u, 0700u, 0555u, 0750u}));
                        fill(path, depth - 1);
                    }
                    break;
                }
                [[fallthrough]];
            case 3:
                ::symlink(kLinkTargets[pick(0, kLinkTargets.size() - 1)].c_str(), path.c_str());
                break;
            case 4:
                ::mkdir(path.c_str(), 0755); // empty
                break;
            default:
                writeFileWithTime(path);
            }
        }
    }

    void writeFileWithTime(const std::string& path) {
        QByteArray content;
        switch (pick(0, 19)) {
        case 0:
            break; // empty
        case 1:
            content = incompressibleBytes(pick(1, 300000), random_());
            break;
        case 2:
            content = pseudoText(pick(1 << 20, 3 << 20), random_()); // several pieces
            break;
        default:
            content = pseudoText(pick(1, 5000), random_());
        }
        // 1901 to 2105, to 100 ns: before 1970 and after 2038 included.
        const std::int64_t seconds =
            std::uniform_int_distribution<std::int64_t>(-2178000000, 4260000000)(random_);
        const struct timespec modified = {static_cast<time_t>(seconds), pick(0, 9999999) * 100};
        writeNew(path, content.toStdString(), pickOf({0644u, 0600u, 0755u, 0444u, 0400u, 0640u}),
                 &modified);
    }

    std::string freshName() {
        const std::string& base = kNames[pick(0, kNames.size() - 1)];
        return pick(0, 1) == 0 ? base : base + std::to_string(serial_++);
    }

    long pick(long low, long high) {
        return std::uniform_int_distribution<long>(low, high)(random_);
    }
    unsigned pickOf(std::initializer_list<unsigned> values) {
        return *(values.begin() + pick(0, static_cast<long>(values.size()) - 1));
    }

    std::string root_;
    std::mt19937 random_;
    std::vector<std::pair<std::string, unsigned>> folders_;
    int serial_ = 0;
};

class SlowOddTrees : public ArchiveJobsTest {
protected:
    void TearDown() override {
        // Names that are not UTF-8 are removed by their bytes.
        fs::removeTree(fs::toSystemPath(work.path()));
    }

    void expectSameTreeBack() {
        const QString archivePath = compress(source);
        extract(archivePath, restored);
        EXPECT_EQ(firstDifference(snapshot(source, {}, true), snapshot(restored, {}, true)), "");
    }
};

} // namespace

TEST_F(SlowOddTrees, EveryTreeComesBackExactly) {
    std::size_t entries = 0;
    for (unsigned seed = 1; seed <= 12; ++seed) {
        SCOPED_TRACE(seed);
        fs::removeTree(fs::toSystemPath(source));
        fs::removeTree(fs::toSystemPath(restored));
        fs::removeTree(fs::toSystemPath(target));
        QDir().mkpath(source);
        QDir().mkpath(restored);
        QDir().mkpath(target);
        TreeMaker(fs::toSystemPath(source), seed).make(seed % 3 == 0 ? 5 : 3);
        expectSameTreeBack();
        entries += snapshot(source).size();
    }
    EXPECT_GT(entries, 400u); // the trees are not trivially small
}

TEST_F(SlowOddTrees, DeepFoldersAndEveryNameAtOnceComeBack) {
    std::string deep = fs::toSystemPath(source);
    for (int level = 0; level < 60; ++level) {
        deep += "/" + kNames[static_cast<std::size_t>(level) % kNames.size()];
        ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0) << deep;
    }
    ASSERT_TRUE(writeNew(deep + "/en derinde.txt", "dip"));
    const std::string names = fs::toSystemPath(source) + "/adlar";
    ASSERT_EQ(::mkdir(names.c_str(), 0755), 0);
    for (const std::string& name : kNames) {
        ASSERT_TRUE(writeNew(names + "/" + name, name));
    }
    expectSameTreeBack();
}

TEST_F(SlowOddTrees, ALargeSparseFileComesBackWithEveryByte) {
    // Past 4 GiB: sizes and offsets need ZIP64, and almost all of it is a hole.
    const std::string file = fs::toSystemPath(source) + "/seyrek.img";
    const std::uint64_t size = (std::uint64_t{4} << 30) + (64u << 20);
    const int fd = ::open(file.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(size)), 0);
    for (const std::uint64_t at : {std::uint64_t{0}, std::uint64_t{3} << 30, size - 7}) {
        ASSERT_EQ(::pwrite(fd, "işaret!", 7, static_cast<off_t>(at)), 7);
    }
    ::close(fd);
    const QString archivePath = compress(source);
    extract(archivePath, restored);
    // The holes come back as holes; every stretch of data in either file is
    // compared, and what lies outside them reads as zeros in both.
    const std::string back = fs::toSystemPath(restored) + "/seyrek.img";
    const int a = ::open(file.c_str(), O_RDONLY);
    const int b = ::open(back.c_str(), O_RDONLY);
    ASSERT_GE(a, 0);
    ASSERT_GE(b, 0);
    struct stat st {};
    ASSERT_EQ(::fstat(b, &st), 0);
    EXPECT_EQ(static_cast<std::uint64_t>(st.st_size), size);
    EXPECT_LT(st.st_blocks * 512, 64 << 20);
    for (const int fd : {a, b}) {
        for (off_t at = ::lseek(fd, 0, SEEK_DATA); at >= 0; at = ::lseek(fd, at, SEEK_DATA)) {
            const off_t end = ::lseek(fd, at, SEEK_HOLE);
            std::vector<char> x(static_cast<std::size_t>(end - at));
            std::vector<char> y(x.size());
            ASSERT_EQ(::pread(a, x.data(), x.size(), at), static_cast<ssize_t>(x.size()));
            ASSERT_EQ(::pread(b, y.data(), y.size(), at), static_cast<ssize_t>(y.size()));
            ASSERT_EQ(x, y) << "from byte " << at;
            at = end;
        }
    }
    ::close(a);
    ::close(b);
}
