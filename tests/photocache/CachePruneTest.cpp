// Cache housekeeping over caches the builder made: three folders, a, b and
// a third whose path holds a line break (so its index section is encoded),
// numbered 1, 2, 3. Folder 2 always holds planted links to a file and a
// folder outside the root. Each row changes something, prunes, and states
// which numbers go; the common checks then hold the index, the folders, the
// outside files and a rebuild of every pruned folder to account. Folder a's
// index section also holds a key of another owner.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "handpix/photolist/PhotoCacheIndex.h"
#include "tests/photocache/CacheFixture.h"

namespace handpix::test {
namespace {
namespace fs = std::filesystem;

class PruneCase;
struct Row {
    const char* name;
    void (*arrange)(PruneCase& t);
    bool missing;
    int olderThanDays;
    std::vector<int> budget;  // the size limit: the bytes of these folders (none: no limit)
    bool dryRun;
    CacheIndexStatus status;
    std::vector<int> pruned;  // oldest first
};

void PrintTo(const Row& row, std::ostream* os) { *os << row.name; }

class PruneCase : public CacheFixture, public ::testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        CacheFixture::SetUp();
        MakeList();
        for (std::size_t i = 0; i < sources.size(); ++i) {
            fs::create_directory(sources[i]);
            WriteJpeg(sources[i] + "/p.jpg", 60 + 20 * static_cast<int>(i), 40, static_cast<unsigned>(i + 1));
            BuildFolder(sources[i]);
        }
        // A key of another owner in a folder's section outlives its cache.
        WritePrivateProfileStringA(sources[0].c_str(), "Other", "5",
                                   (cacheRoot + "/" + kFolderIndexName).c_str());
        WriteBytes(outside + "/keep.jpg", "outside");
        fs::create_symlink(outside + "/keep.jpg", Folder(2) + "/x.jpg");
        fs::create_symlink(outside, Folder(2) + "/sub");
    }

public:
    void BuildFolder(const std::string& dir) {
        list->DeleteAllItems();
        list->m_strPath = CString(dir);
        list->InitPhotoList();
    }
    std::string Folder(int n) const { return cacheRoot + "/" + std::to_string(n); }
    // The folder's list file (or the folder itself) written days ago.
    void Age(int n, int days) {
        std::string path = Folder(n) + "/ThumbListJpeg.lst";
        if (!fs::exists(path)) path = Folder(n);
        fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(24 * days));
    }
    int Number(const std::string& dir) const {
        return Index(IndexSectionOfFolder(dir).c_str(), "Foldername");
    }
    std::string Root() const { return cacheRoot; }

    std::vector<std::string> sources = {tree / "a", tree / "b", tree / "c\nline"};
    std::string outside = tree.Path();
    int lockFd = -1;
};

// The arrangements: what happened to the folders and caches since the build.
void Untouched(PruneCase&) {}
void LoseB(PruneCase& t) { fs::remove_all(t.sources[1]); }
void LoseBAndLeaveUnnamed(PruneCase& t) {
    LoseB(t);
    fs::create_directory(t.Folder(7));  // left by a build that died before it wrote the index
    WriteBytes(t.Folder(7) + "/q.jpg", "thumb");
    t.Age(2, 3);
    t.Age(7, 1);
}
void AgeA10B3(PruneCase& t) {
    t.Age(1, 10);
    t.Age(2, 3);
}
void AgeA3B1C2(PruneCase& t) {
    t.Age(1, 3);
    t.Age(2, 1);
    t.Age(3, 2);
}
void LoseBWhileBuilding(PruneCase& t) {
    LoseB(t);
    t.lockFd = ::open((t.Root() + "/" + kBuildLockName).c_str(), O_RDWR | O_CLOEXEC);
    ASSERT_EQ(::flock(t.lockFd, LOCK_EX), 0);
}

constexpr auto kOk = CacheIndexStatus::kOk;
const Row kRows[] = {
    // name, arrange, missing, older than, budget, dry run, status, pruned
    {"MissingSourceAndUnnamedFolder", LoseBAndLeaveUnnamed, true, -1, {}, false, kOk, {2, 7}},
    {"OlderThan", AgeA10B3, false, 5, {}, false, kOk, {1}},
    {"MaxSizeTakesTheLeastRecentlyUsedFirst", AgeA3B1C2, false, -1, {2}, false, kOk, {1, 3}},
    {"MaxSizeOfTheTotalKeepsAll", Untouched, false, -1, {1, 2, 3}, false, kOk, {}},
    {"DryRunTouchesNothing", LoseB, true, -1, {}, true, kOk, {2}},
    {"RunningBuildKeepsEverything", LoseBWhileBuilding, true, -1, {}, false, CacheIndexStatus::kBusy, {}},
};

TEST_P(PruneCase, ChoosesRemovesAndLeavesARebuildableCache) {
    const Row& row = GetParam();
    std::vector<FolderCache> before;
    ASSERT_EQ(ListFolderCaches(cacheRoot, before), CacheIndexStatus::kOk);
    ASSERT_EQ(before.size(), 3u);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(before[i].number, i + 1);
        EXPECT_EQ(before[i].source, sources[i]);
        EXPECT_TRUE(before[i].sourceExists && before[i].hasFolder);
        EXPECT_EQ(before[i].thumbnails, 1);  // the planted link is no thumbnail
        EXPECT_EQ(before[i].bytes, fs::file_size(Folder(i + 1) + "/p.jpg") +
                                       fs::file_size(Folder(i + 1) + "/ThumbListJpeg.lst"));
        EXPECT_LE(std::abs(before[i].lastUsed - std::time(nullptr)), 60);
    }
    row.arrange(*this);
    CachePruneOptions options;
    options.missing = row.missing;
    options.olderThanDays = row.olderThanDays;
    for (int n : row.budget)
        options.maxBytes =
            std::max<std::int64_t>(options.maxBytes, 0) + static_cast<std::int64_t>(before.at(n - 1).bytes);
    options.dryRun = row.dryRun;
    const CachePruneResult result = PruneFolderCaches(cacheRoot, options);
    if (lockFd >= 0) ::close(lockFd);

    EXPECT_EQ(result.status, row.status);
    std::vector<int> pruned;
    std::uint64_t wouldGo = 0;
    for (const PrunedCache& p : result.pruned) {
        pruned.push_back(p.cache.number);
        if (options.dryRun) wouldGo += p.cache.bytes;
        EXPECT_EQ(p.removed, !options.dryRun);
    }
    EXPECT_EQ(pruned, row.pruned);
    const bool removes = !options.dryRun && result.status == CacheIndexStatus::kOk;
    std::vector<FolderCache> after;
    ASSERT_EQ(ListFolderCaches(cacheRoot, after), CacheIndexStatus::kOk);
    std::uint64_t left = 0;
    for (const FolderCache& c : after) left += c.bytes;
    if (result.status == CacheIndexStatus::kOk) {
        EXPECT_EQ(result.bytesLeft, left - wouldGo);
    }
    EXPECT_EQ(Index("Info", "Dirnum"), 3);
    EXPECT_EQ(Index(sources[0].c_str(), "Other"), 5);
    auto gone = [&](int n) { return removes && std::count(pruned.begin(), pruned.end(), n) > 0; };
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(fs::exists(Folder(n)), !gone(n)) << n;
        EXPECT_EQ(Number(sources[static_cast<std::size_t>(n - 1)]), gone(n) ? -1 : n) << n;
    }
    if (gone(7)) {
        EXPECT_FALSE(fs::exists(Folder(7)));
    }
    EXPECT_EQ(ReadBytes(outside + "/keep.jpg"), "outside");

    // Opening a pruned folder again builds a new cache under the next number.
    int next = 4;
    for (int n : pruned) {
        if (!removes || n > 3 || !fs::exists(sources[static_cast<std::size_t>(n - 1)])) continue;
        BuildFolder(sources[static_cast<std::size_t>(n - 1)]);
        EXPECT_EQ(Number(sources[static_cast<std::size_t>(n - 1)]), next);
        EXPECT_TRUE(fs::is_regular_file(Folder(next++) + "/p.jpg"));
    }
    EXPECT_TRUE(boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Rows, PruneCase, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace handpix::test
