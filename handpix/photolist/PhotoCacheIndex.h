// Addition: housekeeping of the thumbnail cache. The list build gives every
// source folder a numbered cache folder under the cache root and never
// removes one; these calls show what the root holds and remove the caches of
// folders that are gone, unused for long, or beyond a size budget.
//
// A removed cache leaves no trace in FolderList.ini but its number, which is
// never handed out again ("Dirnum" stays), so opening the folder later simply
// builds a new cache under the next number.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace handpix {

// Addition: the names the build and the housekeeping share.
inline constexpr const char* kFolderIndexName = "FolderList.ini";
// Held (flock) by a build for its whole run; housekeeping that removes
// anything holds it too, so it never races a build.
inline constexpr const char* kBuildLockName = "FolderList.build.lock";
// The thumbnail list file of each kind (IMG_JPEG, IMG_MPEG).
inline constexpr const char* kThumbListNames[] = {"ThumbListJpeg.lst", "ThumbListMpeg.lst"};

// Addition: a folder's section name in FolderList.ini: the path itself,
// byte for byte, unless it holds a line break (which cannot stand in a
// profile line) or begins with '%'. Those become '%' and the path with '%',
// CR and LF written as %25, %0D and %0A, so distinct paths keep distinct
// sections. FolderOfIndexSection reverses it.
std::string IndexSectionOfFolder(const std::string& path);
std::string FolderOfIndexSection(const std::string& section);

// Addition: one numbered cache folder, or an index entry whose folder is gone.
struct FolderCache {
    std::string source;         // the source folder as the index names it; empty when the index does not
    int number = 0;             // the cache folder's number under the root
    bool sourceExists = false;  // source is a folder now (a relative one counts from the current folder)
    bool hasFolder = false;     // the numbered cache folder is there
    int thumbnails = 0;         // thumbnail files in it
    std::uint64_t bytes = 0;    // bytes of the regular files in it
    // Seconds since the epoch: when the newest thumbnail list file in it was
    // written. Every build of the folder rewrites its list file, so this is
    // when the folder was last opened; a cache folder without one counts by
    // its own modification time, an entry without a folder as 0.
    std::int64_t lastUsed = 0;
};

enum class CacheIndexStatus {
    kOk,
    kUnreadableIndex,  // FolderList.ini is there but cannot be read: nothing is touched
    kBusy,             // a list build holds the cache root: nothing is touched
    kWriteFailed,      // FolderList.ini could not be rewritten: nothing was removed
};
const char* CacheIndexStatusText(CacheIndexStatus status);

// Addition: every cache the root holds, by number. A missing root holds none.
CacheIndexStatus ListFolderCaches(const std::string& root, std::vector<FolderCache>& out);

struct CachePruneOptions {
    bool missing = false;          // caches of folders that are gone, and those the index does not name
    int olderThanDays = -1;        // >= 0: caches last used longer ago than this
    std::int64_t maxBytes = -1;    // >= 0: then the least recently used until the rest fits
    bool dryRun = false;           // choose, but touch nothing
};

enum class PruneReason { kMissing, kOlder, kSize };
struct PrunedCache {
    FolderCache cache;
    PruneReason reason = PruneReason::kMissing;
    bool removed = false;  // the cache folder is gone (false on a dry run, or when part of it could not go)
};
struct CachePruneResult {
    CacheIndexStatus status = CacheIndexStatus::kOk;
    std::vector<PrunedCache> pruned;  // what went (or would go), oldest first
    std::uint64_t bytesLeft = 0;      // what the caches that stay hold
};

// Addition: removes the chosen caches: their index entries in one atomic
// rewrite of FolderList.ini, then their folders. Nothing outside the root is
// touched: links inside a cache folder are removed as links, never followed.
CachePruneResult PruneFolderCaches(const std::string& root, const CachePruneOptions& options);

}  // namespace handpix
