// handpix cache list | handpix cache prune [--missing] [--older-than DAYS]
// [--max-size MB] [--dry-run]: what the thumbnail cache holds, and removing
// the caches of folders that are gone, unused for long, or beyond a budget.
#include <fmt/core.h>

#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "handpix/photolist/PhotoCacheIndex.h"
#include "tools/FolderList.h"
#include "tools/Verbs.h"

namespace handpix::tool {
namespace {

struct CacheOptions {
    std::string cache;
    bool missing = false;
    int olderThanDays = -1;
    long long maxMegabytes = -1;
    bool dryRun = false;
};

std::string Root(const CacheOptions& o) { return o.cache.empty() ? DefaultCacheRoot() : o.cache; }

// Local time to the minute, "-" for never.
std::string When(std::int64_t seconds) {
    if (seconds <= 0) return "-";
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    char text[32];
    if (!::localtime_r(&t, &tm) || std::strftime(text, sizeof text, "%Y-%m-%d %H:%M", &tm) == 0) return "-";
    return text;
}

// The source as the index names it, or why there is none; marked when gone.
std::string Source(const FolderCache& c, bool markMissing = true) {
    if (c.source.empty()) return "(not in the index)";
    return c.sourceExists || !markMissing ? c.source : c.source + " (missing)";
}

std::string Folders(std::size_t n) { return fmt::format("{} cached folder{}", n, n == 1 ? "" : "s"); }

int RunList(const CacheOptions& o) {
    const std::string root = Root(o);
    std::vector<FolderCache> caches;
    if (const CacheIndexStatus status = ListFolderCaches(root, caches); status != CacheIndexStatus::kOk) {
        fmt::print(stderr, "cache: {}: {}\n", root, CacheIndexStatusText(status));
        return 1;
    }
    std::uint64_t bytes = 0;
    fmt::print("{:>6}  {:>6}  {:>12}  {:<16}  {}\n", "number", "thumbs", "bytes", "last used", "source");
    for (const FolderCache& c : caches) {
        fmt::print("{:>6}  {:>6}  {:>12}  {:<16}  {}\n", c.number, c.thumbnails, c.bytes, When(c.lastUsed), Source(c));
        bytes += c.bytes;
    }
    fmt::print("{}, {} bytes in {}\n", Folders(caches.size()), bytes, root);
    return 0;
}

const char* Why(PruneReason reason) {
    switch (reason) {
    case PruneReason::kMissing: return "folder gone";
    case PruneReason::kOlder: return "not used for long";
    case PruneReason::kSize: return "over the size budget";
    }
    return "";
}

int RunPrune(const CacheOptions& o) {
    if (!o.missing && o.olderThanDays < 0 && o.maxMegabytes < 0) {
        fmt::print(stderr, "cache prune: give --missing, --older-than DAYS or --max-size MB\n");
        return 2;
    }
    const std::string root = Root(o);
    CachePruneOptions options;
    options.missing = o.missing;
    options.olderThanDays = o.olderThanDays;
    options.maxBytes = o.maxMegabytes < 0 ? -1 : o.maxMegabytes * 1024 * 1024;
    options.dryRun = o.dryRun;
    const CachePruneResult result = PruneFolderCaches(root, options);
    if (result.status != CacheIndexStatus::kOk) {
        fmt::print(stderr, "cache: {}: {}\n", root, CacheIndexStatusText(result.status));
        return 1;
    }
    std::uint64_t freed = 0;
    int failed = 0;
    for (const PrunedCache& p : result.pruned) {
        const bool gone = o.dryRun || p.removed;
        fmt::print("{} {}  {} thumbnails, {} bytes, last used {}  {} ({})\n",
                   o.dryRun ? "would remove" : gone ? "removed" : "could not remove all of", p.cache.number,
                   p.cache.thumbnails, p.cache.bytes, When(p.cache.lastUsed), Source(p.cache, false), Why(p.reason));
        if (gone) freed += p.cache.bytes;
        else ++failed;
    }
    fmt::print("{} {} ({} bytes); {} bytes stay in {}\n", o.dryRun ? "would remove" : "removed",
               Folders(result.pruned.size() - static_cast<std::size_t>(failed)), freed, result.bytesLeft, root);
    return failed ? 1 : 0;
}

void Register(CLI::App& app) {
    auto opts = std::make_shared<CacheOptions>();
    CLI::App* cmd = app.add_subcommand("cache", "Show or prune the thumbnail cache that grid and browse build");
    cmd->require_subcommand(1);
    cmd->add_option("--cache", opts->cache, "Cache root (default $XDG_CACHE_HOME/handpix, else ~/.cache/handpix)");
    CLI::App* list = cmd->add_subcommand("list", "One line per cached folder: number, thumbnails, bytes, last used, source");
    list->fallthrough();  // --cache after the verb too
    list->callback([opts] { SetExitCode(RunList(*opts)); });
    CLI::App* prune = cmd->add_subcommand("prune", "Remove the caches of folders that are gone, old, or over a budget");
    prune->fallthrough();
    prune->add_flag("--missing", opts->missing, "Caches of folders that no longer exist");
    prune->add_option("--older-than", opts->olderThanDays, "Caches not used for more than DAYS days")
        ->type_name("DAYS")
        ->check(CLI::NonNegativeNumber);
    prune->add_option("--max-size", opts->maxMegabytes, "Then the least recently used until the rest fits in MB")
        ->type_name("MB")
        ->check(CLI::Range(0LL, 1LL << 40));
    prune->add_flag("--dry-run", opts->dryRun, "Only list what would go");
    prune->callback([opts] { SetExitCode(RunPrune(*opts)); });
}

VerbRegistrar registrar(&Register);
}  // namespace
}  // namespace handpix::tool
