// Housekeeping of the thumbnail cache: what the root holds, and removing
// caches. Everything below the root is reached through directory handles
// opened without following links, so a link planted in the cache is removed
// as a link and whatever it points at stays.
#include "handpix/photolist/PhotoCacheIndex.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <utility>

#include "handpix/photolist/PhotoListCtrl.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/Profile.h"

namespace handpix {

std::string IndexSectionOfFolder(const std::string& path) {
    if (path.find_first_of("\r\n") == std::string::npos && (path.empty() || path[0] != '%')) return path;
    std::string out = "%";
    for (char c : path) {
        if (c == '%') out += "%25";
        else if (c == '\r') out += "%0D";
        else if (c == '\n') out += "%0A";
        else out += c;
    }
    return out;
}

std::string FolderOfIndexSection(const std::string& section) {
    if (section.empty() || section[0] != '%') return section;
    std::string out;
    for (std::size_t i = 1; i < section.size(); ++i) {
        const std::string_view code = std::string_view(section).substr(i, 3);
        if (code == "%25" || code == "%0D" || code == "%0A") {
            out += code == "%25" ? '%' : code == "%0D" ? '\r' : '\n';
            i += 2;
        } else {
            out += section[i];
        }
    }
    return out;
}

const char* CacheIndexStatusText(CacheIndexStatus status) {
    switch (status) {
    case CacheIndexStatus::kOk: return "done";
    case CacheIndexStatus::kUnreadableIndex: return "FolderList.ini cannot be read; nothing was changed";
    case CacheIndexStatus::kBusy: return "a list is being built in this cache; nothing was changed";
    case CacheIndexStatus::kWriteFailed: return "FolderList.ini cannot be written; nothing was removed";
    }
    return "unknown";
}

namespace {

constexpr int kMaxTreeDepth = 16;  // the build makes no subfolders; anything deeper is not ours to walk
constexpr std::int64_t kSecondsPerDay = 86400;

// A directory handle that closes itself.
class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int Get() const { return m_fd; }

private:
    int m_fd;
};

// The entries of a directory handle, without "." and "..". The handle is
// duplicated, so the caller's stays open and positioned.
std::vector<std::string> Names(int dirFd) {
    std::vector<std::string> names;
    const int fd = ::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!dir) {
        if (fd >= 0) ::close(fd);
        return names;
    }
    while (dirent* e = ::readdir(dir)) {
        const std::string_view name = e->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

// The number a cache folder name stands for: plain decimal from 1, as the
// build writes it ("%d"); 0 for anything else.
int FolderNumber(std::string_view name) {
    if (name.empty() || name.size() > 10 || name[0] < '1' || name[0] > '9') return 0;
    long long n = 0;
    for (char c : name) {
        if (c < '0' || c > '9') return 0;
        n = n * 10 + (c - '0');
    }
    return n <= INT_MAX ? static_cast<int>(n) : 0;
}

// The number an index value gives the build: its leading decimal digits.
int IndexNumber(const std::string& value) {
    errno = 0;
    const long n = std::strtol(value.c_str(), nullptr, 10);
    return errno == 0 && n >= 1 && n <= INT_MAX ? static_cast<int>(n) : 0;
}

std::int64_t Seconds(const struct stat& st) { return static_cast<std::int64_t>(st.st_mtim.tv_sec); }

void ScanFolder(int rootFd, FolderCache& cache) {
    Fd folder(::openat(rootFd, std::to_string(cache.number).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st {};
    if (folder.Get() < 0 || ::fstat(folder.Get(), &st) != 0) return;
    cache.hasFolder = true;
    std::int64_t listWritten = -1;
    for (const std::string& name : Names(folder.Get())) {
        struct stat f {};
        if (::fstatat(folder.Get(), name.c_str(), &f, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(f.st_mode)) continue;
        cache.bytes += static_cast<std::uint64_t>(f.st_size);
        if (IsThumbnailName(name)) ++cache.thumbnails;
        for (const char* list : kThumbListNames)
            if (name == list) listWritten = std::max(listWritten, Seconds(f));
    }
    cache.lastUsed = listWritten >= 0 ? listWritten : Seconds(st);
}

// The caches by number, and the index sections that name each.
struct Listing {
    std::map<int, FolderCache> caches;
    std::map<int, std::vector<std::string>> sections;
};

CacheIndexStatus Scan(const std::string& root, int rootFd, Listing& out) {
    std::vector<std::pair<std::string, std::string>> named;
    if (ReadProfileKeyInSections((root + "/" + kFolderIndexName).c_str(), "Foldername", named) ==
        ProfileState::kUnreadable)
        return CacheIndexStatus::kUnreadableIndex;
    for (const auto& [section, value] : named) {
        const int n = IndexNumber(value);
        if (n == 0) continue;
        out.sections[n].push_back(section);
        FolderCache& cache = out.caches[n];
        if (cache.number == 0) {  // the first section naming a number is the one a build finds
            cache.number = n;
            cache.source = FolderOfIndexSection(section);
            cache.sourceExists = !cache.source.empty() && IsDirectory(cache.source.c_str());
        }
    }
    for (const std::string& name : Names(rootFd)) {
        struct stat st {};
        const int n = FolderNumber(name);
        if (n == 0 || ::fstatat(rootFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) continue;
        out.caches[n].number = n;
    }
    for (auto& [n, cache] : out.caches) ScanFolder(rootFd, cache);
    return CacheIndexStatus::kOk;
}

// Removes name under parentFd and everything in it, on device dev only. A
// link, or anything else that is not a folder, is unlinked, never followed.
bool RemoveTree(int parentFd, const std::string& name, dev_t dev, int depth) {
    Fd dir(::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (dir.Get() < 0) {
        if (errno == ENOENT) return true;
        return (errno == ENOTDIR || errno == ELOOP) && ::unlinkat(parentFd, name.c_str(), 0) == 0;
    }
    struct stat st {};
    if (::fstat(dir.Get(), &st) != 0 || st.st_dev != dev || depth > kMaxTreeDepth) return false;
    bool ok = true;
    for (const std::string& entry : Names(dir.Get())) {
        struct stat e {};
        if (::fstatat(dir.Get(), entry.c_str(), &e, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(e.st_mode)) ok = RemoveTree(dir.Get(), entry, dev, depth + 1) && ok;
        else ok = ::unlinkat(dir.Get(), entry.c_str(), 0) == 0 && ok;
    }
    return ::unlinkat(parentFd, name.c_str(), AT_REMOVEDIR) == 0 && ok;
}

// The caches that go, each with the first reason that holds, oldest first.
std::vector<PrunedCache> Choose(const std::map<int, FolderCache>& caches, const CachePruneOptions& o,
                                std::int64_t now) {
    std::vector<PrunedCache> chosen;
    std::vector<const FolderCache*> kept;
    for (const auto& [n, cache] : caches) {
        const bool missing = o.missing && !cache.sourceExists;
        const bool older = o.olderThanDays >= 0 && cache.lastUsed < now - o.olderThanDays * kSecondsPerDay;
        if (missing || older) {
            PrunedCache p;
            p.cache = cache;
            p.reason = missing ? PruneReason::kMissing : PruneReason::kOlder;
            chosen.push_back(std::move(p));
        } else {
            kept.push_back(&cache);
        }
    }
    auto byUse = [](const FolderCache* a, const FolderCache* b) {
        return std::pair(a->lastUsed, a->number) < std::pair(b->lastUsed, b->number);
    };
    std::sort(kept.begin(), kept.end(), byUse);
    std::uint64_t total = 0;
    for (const FolderCache* c : kept) total += c->bytes;
    for (const FolderCache* c : kept) {
        if (o.maxBytes < 0 || total <= static_cast<std::uint64_t>(o.maxBytes)) break;
        if (!c->hasFolder) continue;  // an index entry alone frees nothing
        PrunedCache p;
        p.cache = *c;
        p.reason = PruneReason::kSize;
        chosen.push_back(std::move(p));
        total -= c->bytes;
    }
    std::sort(chosen.begin(), chosen.end(),
              [&](const PrunedCache& a, const PrunedCache& b) { return byUse(&a.cache, &b.cache); });
    return chosen;
}

}  // namespace

CacheIndexStatus ListFolderCaches(const std::string& root, std::vector<FolderCache>& out) {
    out.clear();
    Fd rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (rootFd.Get() < 0) return CacheIndexStatus::kOk;
    Listing listing;
    const CacheIndexStatus status = Scan(root, rootFd.Get(), listing);
    for (auto& [n, cache] : listing.caches) out.push_back(std::move(cache));
    return status;
}

CachePruneResult PruneFolderCaches(const std::string& root, const CachePruneOptions& options) {
    CachePruneResult result;
    Fd rootFd(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (rootFd.Get() < 0) return result;
    // Held until the end: a build that starts meanwhile waits for it.
    std::unique_ptr<Fd> lock;
    if (!options.dryRun) {
        lock = std::make_unique<Fd>(::openat(rootFd.Get(), kBuildLockName, O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (lock->Get() < 0) {
            result.status = CacheIndexStatus::kWriteFailed;
            return result;
        }
        if (::flock(lock->Get(), LOCK_EX | LOCK_NB) != 0) {
            result.status = CacheIndexStatus::kBusy;
            return result;
        }
    }
    Listing listing;
    result.status = Scan(root, rootFd.Get(), listing);
    if (result.status != CacheIndexStatus::kOk) return result;
    result.pruned = Choose(listing.caches, options, static_cast<std::int64_t>(std::time(nullptr)));
    for (const PrunedCache& p : result.pruned) listing.caches.erase(p.cache.number);
    for (const auto& [n, cache] : listing.caches) result.bytesLeft += cache.bytes;
    if (options.dryRun || result.pruned.empty()) return result;

    // The index first: it never names a folder that is half removed, and a
    // folder left behind by a failed removal is one the index does not name,
    // which the next pruning of missing folders takes.
    std::vector<std::string> sections;
    for (const PrunedCache& p : result.pruned)
        for (const std::string& s : listing.sections[p.cache.number]) sections.push_back(s);
    if (!sections.empty() &&
        !RemoveProfileKeys((root + "/" + kFolderIndexName).c_str(), "Foldername", sections)) {
        result.status = CacheIndexStatus::kWriteFailed;
        return result;
    }
    struct stat rootStat {};
    ::fstat(rootFd.Get(), &rootStat);
    for (PrunedCache& p : result.pruned) {
        p.removed = !p.cache.hasFolder || RemoveTree(rootFd.Get(), std::to_string(p.cache.number), rootStat.st_dev, 0);
        if (!p.removed) result.bytesLeft += p.cache.bytes;
    }
    return result;
}

}  // namespace handpix
