// InitPhotoList: fills the list from its folder through the thumbnail cache.
//
// Cache layout under the root (default: beside the executable, "Cache"):
// FolderList.ini numbers the source folders; folder n holds the thumbnails
// and one list file per kind, "name?size\info" lines with CRLF ends and the
// information text in code page 949.
//
// Linux needs a few things the original did not: names differ by case, so
// the cache name is the lower-case name only when no sibling shares it, and
// the index matches folder paths exactly; the cache folder may be planted with
// links, so nothing there is followed; and a crash must not lose the previous
// list, so the new one is written beside it and renamed over it at the end.
//
// Fixes for hostile folders and caches: only regular files are listed (a
// FIFO named like a picture would block the build for ever); an index that
// cannot be read stops the build and is never written; a list file over its
// limit reads as empty and is rewritten; a list line names only a thumbnail
// and brings at most kMaxListInfoBytes of text; a folder path with a line
// break gets a section name of its own (IndexSectionOfFolder).
//
// Additions: the folder is listed in name order (ListFolder), so items and
// list lines come out the same on every file system; ".jpeg" and ".jpe"
// files are pictures too; a still picture's line records how its thumbnail
// was turned (TurnField), so that a change of the orientation switch remakes
// the thumbnails it concerns and no others.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "handpix/imagefiles/Orientation.h"
#include "handpix/photolist/OrderedJobs.h"
#include "handpix/photolist/PhotoCacheIndex.h"
#include "handpix/photolist/PhotoListCtrl.h"
#include "handpix/platform/core/CodePage.h"
#include "handpix/platform/core/File.h"
#include "handpix/platform/core/FileFind.h"
#include "handpix/platform/core/MessageBox.h"
#include "handpix/platform/core/Profile.h"
#include "handpix/platform/windows/Desktop.h"

namespace handpix {

bool IsPlainCacheName(std::string_view name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of(std::string_view("/\\\0", 3)) == std::string_view::npos;
}

bool IsThumbnailName(std::string_view name) {
    return IsPlainCacheName(name) && IsJpegName(name);
}

namespace {

bool IsTurnField(std::string_view s) {
    return (s.size() == 2 || (s.size() == 3 && s[2] == 'n')) && s[0] == 'o' && s[1] >= '1' && s[1] <= '8';
}

// strtok with the delimiters "?\": runs of separators count as one and
// leading ones are skipped. Only the first three pieces matter.
// Plain loops: the set searches of string_view test every byte against the
// set with a call of their own, which a 100,000-line list notices.
void SplitLine(std::string_view line, std::string_view (&pieces)[3]) {
    auto separator = [&line](std::size_t i) { return line[i] == '?' || line[i] == '\\'; };
    std::size_t pos = 0;
    for (std::string_view& piece : pieces) {
        while (pos < line.size() && separator(pos)) ++pos;
        if (pos == line.size()) break;
        std::size_t end = pos;
        while (end < line.size() && !separator(end)) ++end;
        piece = line.substr(pos, end - pos);
        pos = end;
    }
}

// The size field as the builder writes it ("%d"): anything else never matches
// a key, so it is not worth keeping.
bool IsSizeDigits(std::string_view s) {
    if (!s.empty() && s.front() == '-') s.remove_prefix(1);
    if (s.empty() || s.size() > 10 || (s.size() > 1 && s.front() == '0')) return false;
    long long v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    return v <= 2147483648LL;
}

// The text cut to at most max bytes without splitting a double-byte character.
std::string_view CutCp949(std::string_view text, std::size_t max) {
    std::size_t end = 0;
    while (end < text.size()) {
        const auto lead = static_cast<unsigned char>(text[end]);
        const std::size_t step = lead >= 0x81 && lead <= 0xFE ? 2 : 1;
        if (end + step > max) break;
        end += step;
    }
    return text.substr(0, std::min(end, text.size()));
}

// One line of a list file as the build keeps it, pointing into the file's
// bytes; the information text is cut but still in code page 949.
struct ListLine {
    std::string_view thumb, size, info, turn;
};

// Calls take(line) for every line worth keeping, in file order.
template <class Take>
void ForEachListLine(std::string_view bytes, Take take) {
    while (!bytes.empty()) {
        std::size_t eol = bytes.find('\n');
        std::string_view line = bytes.substr(0, eol);
        bytes.remove_prefix(eol == std::string_view::npos ? bytes.size() : eol + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        // The turn field is taken off first: after an empty information text
        // the split would take it for the text.
        std::string_view turn;
        const std::size_t mark = line.rfind('?');
        if (mark != std::string_view::npos && IsTurnField(line.substr(mark + 1))) {
            turn = line.substr(mark + 1);
            line = line.substr(0, mark);
        }
        std::string_view t[3];
        SplitLine(line, t);
        if (!IsThumbnailName(t[0]) || !IsSizeDigits(t[1])) continue;
        take(ListLine{t[0], t[1], CutCp949(t[2], kMaxListInfoBytes), turn});
    }
}

}  // namespace

ThumbListTable ParseThumbList(std::string_view bytes) {
    ThumbListTable table;
    ForEachListLine(bytes, [&table](const ListLine& line) {
        std::string key(line.thumb);
        key.append(line.size);
        table[key] = ThumbListEntry{std::string(line.thumb), Cp949ToUtf8(line.info), std::string(line.turn)};
    });
    return table;
}

}  // namespace handpix

namespace {
using Lock = std::lock_guard<std::recursive_mutex>;
using handpix::ListLine;

constexpr std::size_t kMaxListBytes = 64u << 20;
// Roughly the first screen of items: until they are appended, no reading of
// the cache folder competes with their jobs.
constexpr std::size_t kFirstScreenItems = 64;
constexpr const char* kReadFailed = "파일 읽기 실패";
constexpr const char* kCreateFailed = "파일 생성 실패";
constexpr const char* kIndexReadFailed = "캐시 폴더 목록(FolderList.ini)을 읽을 수 없습니다";

// Open addressing over numbered things (files, lines, names), kept as
// number + 1 with 0 for an empty slot: a folder's worth of names is found
// without a string or node made per name.
class Slots {
public:
    explicit Slots(std::size_t count) {
        std::size_t size = 16;
        while (size < count * 2) size *= 2;
        m_slots.assign(size, 0);
    }
    // The slot holding a thing that same(number) accepts, or the empty one
    // where it would go.
    template <class Same>
    std::size_t Find(std::uint64_t hash, Same same) const {
        const std::size_t mask = m_slots.size() - 1;
        for (std::size_t i = static_cast<std::size_t>(hash ^ (hash >> 29)) & mask;; i = (i + 1) & mask)
            if (m_slots[i] == 0 || same(m_slots[i] - 1)) return i;
    }
    std::uint32_t& operator[](std::size_t slot) { return m_slots[slot]; }
    std::uint32_t operator[](std::size_t slot) const { return m_slots[slot]; }
    const std::vector<std::uint32_t>& All() const { return m_slots; }

private:
    std::vector<std::uint32_t> m_slots;
};

// FNV-1a over bytes, each first passed through fold.
template <class Fold = std::identity>
std::uint64_t Hash(std::string_view bytes, std::uint64_t h = 1469598103934665603ULL, Fold fold = {}) {
    for (char c : bytes) h = (h ^ static_cast<unsigned char>(fold(c))) * 1099511628211ULL;
    return h;
}

// One file of the list's kind, as the folder enumerates it (its real name,
// opened as is). Its length and cache name are left to the job that makes its
// item.
using Source = handpix::FolderEntry;

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameLowerName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

// By file, whether another file has the same LowerName, from an
// open-addressing table of the names' hashes: no string is made per name.
std::vector<char> FindTwins(const std::vector<Source>& files) {
    std::vector<char> twins(files.size(), 0);
    Slots table(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& name = files[i].name;
        std::uint32_t& slot = table[table.Find(Hash(name, 1469598103934665603ULL, AsciiLower),
                                               [&](std::size_t j) { return SameLowerName(files[j].name, name); })];
        if (slot == 0) slot = static_cast<std::uint32_t>(i + 1);
        else twins[slot - 1] = twins[i] = 1;
    }
    return twins;
}

// Serialises builds of one cache root across processes for the whole build:
// two hosts would otherwise hand out the same folder number or write one
// thumbnail at once. The profile writer locks FolderList.ini.lock per write,
// so this lock is a file of its own.
class BuildLock {
public:
    template <class StopFn>
    BuildLock(const std::string& root, StopFn stopped)
        : m_fd(::open((root + "/" + handpix::kBuildLockName).c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644)) {
        if (m_fd < 0) return;  // an unwritable root fails later, where the user is told
        // Polled, so a host that stops the build is not kept waiting on another process.
        while (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
            if (stopped()) {
                ::close(m_fd);
                m_fd = -1;
                m_abandoned = true;
                return;
            }
            ::usleep(50 * 1000);
        }
    }
    ~BuildLock() {
        if (m_fd >= 0) ::close(m_fd);
    }
    BuildLock(const BuildLock&) = delete;
    BuildLock& operator=(const BuildLock&) = delete;
    bool Abandoned() const { return m_abandoned; }

private:
    int m_fd;
    bool m_abandoned = false;
};

// The files of the kind in listing order: regular files and links to them
// only. A missing folder gives none. Only links and entries of unknown type
// are looked at here: a look-up per name would keep the first items waiting.
struct Sources {
    Sources(const std::string& folder, _IMG_FORMAT kind)
        : files(handpix::ListFolderNames(folder,
                                         [kind](std::string_view name) {
                                             if (kind == IMG_MPEG)
                                                 return handpix::LowerName(std::string(name)).find(".mpeg") !=
                                                        std::string::npos;
                                             return handpix::IsJpegName(name);
                                         })),
          fd(::open(folder.empty() ? "/" : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)),
          motion(kind == IMG_MPEG),
          jpgSuffix(motion ? ".jpg" : "") {
        std::erase_if(files, [](const Source& e) { return !e.file; });
        twins = FindTwins(files);
    }
    ~Sources() {
        if (fd >= 0) ::close(fd);
    }
    Sources(const Sources&) = delete;
    Sources& operator=(const Sources&) = delete;

    // The file's thumbnail name in the cache folder.
    std::string Thumb(std::size_t i) const { return handpix::CacheName(files[i].name, twins[i] != 0, motion) + jpgSuffix; }

    std::vector<Source> files;
    std::vector<char> twins;  // by file: FindTwins
    int fd;                   // the folder, for looking files up by name
    bool motion;
    std::string jpgSuffix;    // motion pictures' thumbnails add it to the cache name
};

// The turn field of a still picture's line (see ThumbListEntry).
std::string TurnField(int orientation, bool turning) {
    std::string field = "o" + std::to_string(orientation);
    if (orientation > 1 && !turning) field += 'n';
    return field;
}

// The turn field of a listed thumbnail that still fits the switch, or
// nothing when it must be made again. A line from before the field existed
// was never turned: it fits while turning is off, and otherwise once the
// source's tag (read now, once) says there is nothing to turn.
std::optional<std::string> StillTurnedRight(std::string_view listed, bool turning, const std::string& source) {
    if (listed.empty()) {
        if (!turning) return std::string();
        const int orientation = handpix::JpegFileOrientation(source.c_str());
        if (orientation != 1) return std::nullopt;
        return TurnField(1, true);
    }
    if (listed[1] == '1' || (listed.size() == 3) != turning) return std::string(listed);
    return std::nullopt;
}

// The cache folder, opened without following a link; every deletion goes
// through it, so a planted link never leads outside.
class CacheFolder {
public:
    explicit CacheFolder(const std::string& path)
        : m_path(path), m_fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC)) {}
    ~CacheFolder() {
        if (m_fd >= 0) ::close(m_fd);
    }
    CacheFolder(const CacheFolder&) = delete;
    CacheFolder& operator=(const CacheFolder&) = delete;

    bool IsOpen() const { return m_fd >= 0; }
    std::string Path(const std::string& name) const { return m_path + "/" + name; }
    // Deletes a plain name; a link is removed as a link.
    void Remove(const std::string& name) const {
        if (m_fd >= 0 && handpix::IsPlainCacheName(name)) ::unlinkat(m_fd, name.c_str(), 0);
    }
    // True for a regular file. Anything else under that name that is not a
    // folder (a link, a pipe) is removed so nothing follows it. Once a
    // snapshot is taken, only names whose kind it leaves open are asked for.
    bool HasFile(const std::string& name) const {
        if (m_listed.load(std::memory_order_acquire)) {
            const std::uint32_t slot = m_slotOfName[m_slotOfName.Find(Hash(name), [&](std::size_t i) {
                return Name(i) == name;
            })];
            if (slot == 0 || m_types[slot - 1] == DT_DIR) return false;
            if (m_types[slot - 1] == DT_REG) return true;
        }
        struct stat st {};
        if (m_fd < 0 || ::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return false;
        if (S_ISREG(st.st_mode)) return true;
        if (!S_ISDIR(st.st_mode)) Remove(name);
        return false;
    }
    int Fd() const { return m_fd; }
    // Reads every name and kind in one pass, on any thread while others call
    // HasFile: one read of a large folder costs far less than a look-up per
    // name. Nothing changes when the folder cannot be read.
    void TakeSnapshot() {
        const int fd = m_fd < 0 ? -1 : ::openat(m_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
        if (!dir) {
            if (fd >= 0) ::close(fd);
            return;
        }
        while (dirent* e = ::readdir(dir)) {
            m_ends.push_back(m_names.append(e->d_name).size());
            m_types.push_back(e->d_type);
        }
        ::closedir(dir);
        m_slotOfName = Slots(m_types.size());
        for (std::size_t i = 0; i < m_types.size(); ++i)
            m_slotOfName[m_slotOfName.Find(Hash(Name(i)), [](std::size_t) { return false; })] =
                static_cast<std::uint32_t>(i + 1);
        m_listed.store(true, std::memory_order_release);
    }

private:
    std::string_view Name(std::size_t i) const {
        const std::size_t start = i == 0 ? 0 : m_ends[i - 1];
        return std::string_view(m_names).substr(start, m_ends[i] - start);
    }

    std::string m_path;
    int m_fd;
    // The snapshot: names end to end, by entry where each ends and its kind.
    std::atomic<bool> m_listed{false};
    std::string m_names;
    std::vector<std::size_t> m_ends;
    std::vector<unsigned char> m_types;
    Slots m_slotOfName{0};
};

enum class ReadResult { kNone, kRead, kFailed };

// A list the builder cannot have written (too large) reads as empty: it is
// rewritten from the folder, its thumbnails remade. Only a list that cannot be
// opened or read at all is a failure the user sees.
ReadResult ReadPreviousList(const CacheFolder& cache, const std::string& listName, std::string& bytes) {
    if (!cache.HasFile(listName)) return ReadResult::kNone;
    int fd = ::openat(cache.Fd(), listName.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return ReadResult::kFailed;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || static_cast<std::uint64_t>(st.st_size) > kMaxListBytes) {
        ::close(fd);
        return ReadResult::kNone;
    }
    bytes.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0 && bytes.size() <= kMaxListBytes) bytes.append(buf, static_cast<std::size_t>(n));
    ::close(fd);
    if (n < 0) return ReadResult::kFailed;
    if (bytes.size() > kMaxListBytes) bytes.clear();
    return ReadResult::kRead;
}

// The previous list is keyed by thumbnail name and size digits run together,
// as it always was; compared as bytes here without building that string.
int CompareKeys(std::string_view a1, std::string_view a2, std::string_view b1, std::string_view b2) {
    for (;;) {
        if (a1.empty()) std::swap(a1, a2);
        if (b1.empty()) std::swap(b1, b2);
        if (a1.empty() || b1.empty()) return static_cast<int>(!a1.empty()) - static_cast<int>(!b1.empty());
        const std::size_t n = std::min(a1.size(), b1.size());
        if (const int c = std::memcmp(a1.data(), b1.data(), n)) return c;
        a1.remove_prefix(n);
        b1.remove_prefix(n);
    }
}

// The previous list, parsed before the jobs start and only read by them. Its
// lines point into its bytes; an open-addressing table finds the last line of
// a key, with no string or node made per line.
class PreviousList {
public:
    static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

    explicit PreviousList(std::string bytes) : m_bytes(std::move(bytes)) {
        m_lines.reserve(static_cast<std::size_t>(std::count(m_bytes.begin(), m_bytes.end(), '\n')) + 1);
        handpix::ForEachListLine(m_bytes, [this](const ListLine& line) { m_lines.push_back(line); });
        m_slots = Slots(m_lines.size());
        for (std::size_t i = 0; i < m_lines.size(); ++i)  // a later line of a key replaces the earlier
            m_slots[Slot(m_lines[i].thumb, m_lines[i].size)] = static_cast<std::uint32_t>(i + 1);
    }

    std::size_t Find(std::string_view thumb, std::string_view size) const {
        const std::uint32_t slot = m_slots[Slot(thumb, size)];
        return slot == 0 ? kNone : slot - 1;
    }
    const ListLine& Line(std::size_t i) const { return m_lines[i]; }
    std::size_t Lines() const { return m_lines.size(); }
    // The lines that count (the last of each key) and are not taken, in key order.
    std::vector<std::size_t> Left(const std::vector<char>& taken) const {
        std::vector<std::size_t> left;
        for (std::uint32_t slot : m_slots.All())
            if (slot != 0 && !taken[slot - 1]) left.push_back(slot - 1);
        std::sort(left.begin(), left.end(), [this](std::size_t x, std::size_t y) {
            return CompareKeys(m_lines[x].thumb, m_lines[x].size, m_lines[y].thumb, m_lines[y].size) < 0;
        });
        return left;
    }

private:
    std::size_t Slot(std::string_view thumb, std::string_view size) const {
        return m_slots.Find(Hash(size, Hash(thumb)), [&](std::size_t i) {
            const ListLine& line = m_lines[i];
            return line.thumb.size() + line.size.size() == thumb.size() + size.size() &&
                   CompareKeys(line.thumb, line.size, thumb, size) == 0;
        });
    }

    std::string m_bytes;
    std::vector<ListLine> m_lines;
    Slots m_slots{0};
};

// The new list, written beside the old one and renamed over it by Commit.
class ListWriter {
public:
    ListWriter(const CacheFolder& cache, const std::string& listName)
        : m_cache(cache), m_name(listName), m_temp(listName + ".new") {
        if (!cache.IsOpen()) return;
        cache.Remove(m_temp);  // left by a build that died
        int fd = ::openat(cache.Fd(), m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0) return;
        m_file = ::fdopen(fd, "wb");
        if (!m_file) {
            ::close(fd);
            return;
        }
        SetFileAttributesA(cache.Path(m_temp).c_str(), FILE_ATTRIBUTE_HIDDEN);
    }
    ~ListWriter() {
        if (m_file) {  // never committed: the previous list stays
            std::fclose(m_file);
            m_cache.Remove(m_temp);
        }
    }
    ListWriter(const ListWriter&) = delete;
    ListWriter& operator=(const ListWriter&) = delete;

    bool IsOpen() const { return m_file != nullptr; }
    // A line as Text makes it.
    void Write(const std::string& line) { std::fwrite(line.data(), 1, line.size(), m_file); }
    static std::string Text(std::string_view thumb, std::string_view size, std::string_view infoCp949,
                            std::string_view turn) {
        std::string line(thumb);
        line += '?';
        line.append(size);
        line += '\\';
        line.append(infoCp949);
        if (!turn.empty()) {
            line += '?';
            line.append(turn);
        }
        line += "\r\n";
        return line;
    }
    // Renames the new list over the old one, or with keep false drops both.
    void Commit(bool keep) {
        bool ok = std::fflush(m_file) == 0 && (!keep || ::fdatasync(::fileno(m_file)) == 0);
        std::fclose(m_file);
        m_file = nullptr;
        if (keep && ok && ::renameat(m_cache.Fd(), m_temp.c_str(), m_cache.Fd(), m_name.c_str()) == 0) return;
        m_cache.Remove(m_temp);
        if (!keep) m_cache.Remove(m_name);
    }

private:
    const CacheFolder& m_cache;
    std::string m_name, m_temp;
    std::FILE* m_file = nullptr;
};

// What the build does with one file. Decided by the job that makes its item,
// so the decisions run on several threads and the first items wait for no
// plan of the whole folder; the build takes the results in enumeration order.
// A folder's information texts repeat, so each thread keeps the conversions
// of the last one it met: a converter call costs far more than the compare.
struct InfoMemo {
    bool filled = false;
    std::string cp949, utf8, back;  // the listed text; as the item shows it; as the new line gets it
};

struct Plan {
    enum class Action { kReuse, kMake, kName };
    Action action = Action::kName;
    bool looked = false;         // looked up: file and size say what was found
    bool file = false;           // a regular file (or a link to one) then
    bool hadFile = false;        // a thumbnail of that name was there before this build
    std::string thumb, size;     // file name in the cache folder; size digits
    std::string info, infoLine;  // information text of a reused thumbnail; as its line gets it
    std::string turn;            // turn field of the line (still pictures)
    std::size_t listed = PreviousList::kNone;  // the previous list's line of this key
    std::string line;            // the new list's line for the item
    CPhotoItem* item = nullptr;  // made by a job; owned here until appended
};

// False when the file is no regular file now; otherwise its length as the
// list keeps it ("%d" of the low 32 bits).
bool LookUp(const Sources& sources, std::size_t i, Plan& plan) {
    struct stat st {};
    plan.looked = true;
    plan.file = sources.fd >= 0 && ::fstatat(sources.fd, sources.files[i].name.c_str(), &st, 0) == 0 &&
                S_ISREG(st.st_mode);
    if (plan.file) plan.size = std::to_string(static_cast<int>(static_cast<std::uint32_t>(st.st_size)));
    return plan.file;
}

void Decide(Plan& plan, const Source& src, const std::string& folder, const std::string& jpgSuffix,
            const CacheFolder& cache, const PreviousList& previous, bool turning, InfoMemo& memo) {
    plan.listed = previous.Find(plan.thumb, plan.size);
    plan.hadFile = cache.HasFile(plan.thumb);
    if (plan.listed != PreviousList::kNone && plan.hadFile) {
        std::optional<std::string> turn;
        if (!jpgSuffix.empty()) turn = std::string();  // motion pictures: the host's thumbnails
        else turn = StillTurnedRight(previous.Line(plan.listed).turn, turning, folder + "/" + src.name);
        if (turn) {
            plan.action = Plan::Action::kReuse;
            const std::string_view info = previous.Line(plan.listed).info;
            if (!memo.filled || memo.cp949 != info) {
                memo.cp949 = info;
                memo.utf8 = handpix::Cp949ToUtf8(info);
                memo.back = handpix::Utf8ToCp949(memo.utf8);
                memo.filled = true;
            }
            plan.info = memo.utf8;
            plan.infoLine = memo.back;
            plan.turn = std::move(*turn);
            return;
        }
    }
    plan.action = jpgSuffix.empty() ? Plan::Action::kMake : Plan::Action::kName;
}

// The item of one file with its thumbnail loaded or made; any thread.
CPhotoItem* MakeItem(Plan& plan, const Source& src, const CString& folder, const CacheFolder& cache,
                     CString& cacheDir, _IMG_FORMAT kind, CPicture* working) {
    CString path = folder + "/" + CString(src.name);
    CPhotoItem* item = kind == IMG_JPEG ? static_cast<CPhotoItem*>(new CPictureItem(path))
                                        : static_cast<CPhotoItem*>(new CMotionPictureItem(path));
    CString thumbPath(cache.Path(plan.thumb));
    switch (plan.action) {
    case Plan::Action::kReuse:
        item->m_strThumb = thumbPath;
        item->SetPictureFile(thumbPath);
        item->m_strInfo = CString(std::move(plan.info));
        break;
    case Plan::Action::kMake: {
        // A thumbnail that cannot be made must not leave an older one under
        // the new size, to be shown and reused as this picture's.
        if (plan.hadFile) cache.Remove(plan.thumb);
        // The thumbnail takes the cache name; the caption keeps the real one.
        CString caption = item->m_strName;
        item->m_strName = CString(plan.thumb);  // a still picture's cache name
        const bool turning = handpix::GetAutoOrient();
        static_cast<CPictureItem*>(item)->MakeThumbNail(working, cacheDir);
        item->m_strName = caption;
        plan.turn = TurnField(handpix::JpegFileOrientation(item->m_strPath.c_str()), turning);
        break;
    }
    case Plan::Action::kName:
        item->m_strThumb = thumbPath;
        break;
    }
    if (plan.action != Plan::Action::kReuse) plan.infoLine = handpix::Utf8ToCp949(item->m_strInfo.str());
    plan.line = ListWriter::Text(plan.thumb, plan.size, plan.infoLine, plan.turn);
    return item;
}

// What becomes of the previous list's lines no appended file took, in key
// order: one whose thumbnail a remade file left behind is that file's spare
// and stays; one of a file a stopped build did not reach carries over (its
// key is that file's thumbnail name and size digits); the thumbnail of any
// other goes unless this build shows it. True when a line was written.
bool SettleLeftLines(const PreviousList& previous, const std::vector<char>& taken, Sources& sources,
                     std::vector<std::unique_ptr<Plan>>& plans, std::size_t reached, std::vector<std::string>& spare,
                     const std::set<std::string>& inUse, ListWriter& list, const CacheFolder& cache) {
    std::unordered_map<std::string_view, std::size_t> unreached;
    for (std::size_t i = reached; i < plans.size(); ++i) {
        if (!plans[i]) plans[i] = std::make_unique<Plan>();
        delete std::exchange(plans[i]->item, nullptr);
        if (plans[i]->thumb.empty()) plans[i]->thumb = sources.Thumb(i);
        unreached.emplace(plans[i]->thumb, i);
    }
    auto isUnreached = [&](const ListLine& line) {
        std::string key(line.thumb);
        key.append(line.size);
        // The size digits end the key; the name is what comes before them.
        std::size_t cut = key.size();
        while (cut > 1 && ((key[cut - 1] >= '0' && key[cut - 1] <= '9') || key[cut - 1] == '-')) {
            --cut;
            auto it = unreached.find(std::string_view(key).substr(0, cut));
            if (it == unreached.end()) continue;
            Plan& plan = *plans[it->second];
            if (!plan.looked) LookUp(sources, it->second, plan);
            if (plan.file && std::string_view(key).substr(cut) == plan.size) return true;
        }
        return false;
    };
    bool written = false;
    for (std::size_t i : previous.Left(taken)) {
        const ListLine& line = previous.Line(i);
        const std::string thumb(line.thumb);
        auto sp = std::find(spare.begin(), spare.end(), thumb);
        if (sp != spare.end()) {
            spare.erase(sp);
        } else if (isUnreached(line)) {
            const std::string info = handpix::Utf8ToCp949(handpix::Cp949ToUtf8(line.info));
            list.Write(ListWriter::Text(line.thumb, line.size, info, line.turn));
            written = true;
        } else if (!inUse.count(thumb)) {
            cache.Remove(thumb);
        }
    }
    return written;
}

// Reads and parses the previous list on a thread of its own while the caller
// lists the folder (the first job needs both); once told the first screen is
// appended, reads the cache folder in one pass for the jobs that follow.
// Until then each job asks the cache folder for its own name.
class ListReader {
public:
    template <class StopFn>
    ListReader(CacheFolder& cache, const std::string& listName, StopFn stopped) {
        auto read = [this, &cache, listName] {
            std::string bytes;
            if (!listName.empty()) m_result = ReadPreviousList(cache, listName, bytes);
            m_list.emplace(std::move(bytes));
            m_parsed.store(true);
            m_parsed.notify_one();
        };
        try {
            m_thread = std::thread([this, read, &cache, stopped] {
                read();
                m_firstScreen.wait(false);
                if (!m_finished && !stopped()) cache.TakeSnapshot();
            });
        } catch (const std::system_error&) {
            read();
        }
    }
    ~ListReader() {
        Finished();
        if (m_thread.joinable()) m_thread.join();
    }
    ListReader(const ListReader&) = delete;
    ListReader& operator=(const ListReader&) = delete;

    // The list could not be opened or read at all.
    bool Failed() {
        m_parsed.wait(false);
        return m_result == ReadResult::kFailed;
    }
    const PreviousList& List() {
        m_parsed.wait(false);
        return *m_list;
    }
    void FirstScreenDone() {
        m_firstScreen.store(true);
        m_firstScreen.notify_one();
    }
    // No job is left to use a snapshot.
    void Finished() {
        m_finished.store(true);
        FirstScreenDone();
    }

private:
    ReadResult m_result = ReadResult::kNone;
    std::optional<PreviousList> m_list;
    std::atomic<bool> m_parsed{false}, m_firstScreen{false}, m_finished{false};
    std::thread m_thread;
};

}  // namespace

void CPhotoListCtrl::SetCacheRoot(CString root) {
    std::lock_guard<std::mutex> lock(m_workersMutex);
    m_strCacheRoot = root;
}

CString CPhotoListCtrl::GetCacheRoot() {
    {
        std::lock_guard<std::mutex> lock(m_workersMutex);
        if (!m_strCacheRoot.IsEmpty()) return m_strCacheRoot;
    }
    char buf[_MAX_PATH];
    return CString(GetRunDirectory(buf)) + "Cache";
}

void CPhotoListCtrl::SetBuildProgress(std::function<void(const handpix::PhotoListProgress&)> progress) {
    std::lock_guard<std::mutex> lock(m_workersMutex);
    m_buildProgress = std::move(progress);
}

void CPhotoListCtrl::InitPhotoList() {
    CString folder;
    _IMG_FORMAT kind;
    {
        Lock lock(m_lock);
        m_pCurItem = nullptr;
        folder = m_strPath;
        kind = m_imgType;
    }
    m_nThreadStop = 0;
    HWND window;
    std::function<void(const handpix::PhotoListProgress&)> report;
    {
        std::lock_guard<std::mutex> lock(m_workersMutex);
        window = m_hBuildWnd;
        report = m_buildProgress;
    }
    // The list's destructor raises the stop request and destroys the window;
    // a request raised just before the reset above is caught by the window test.
    auto stopped = [&] { return m_nThreadStop.load() != 0 || m_bClosing || (window && !IsWindow(window)); };
    handpix::PhotoListProgress progress;
    auto tell = [&] {
        if (report) report(progress);
    };

    const std::string root = GetCacheRoot().str();
    _mkdir(root.c_str());
    const std::string index = root + "/" + handpix::kFolderIndexName;
    BuildLock buildLock(root, stopped);
    if (buildLock.Abandoned()) {
        progress.finished = true;
        tell();
        return;
    }
    // An index that exists but cannot be read is left alone: writing it would
    // orphan every other folder's cache, and guessing a number could hand out
    // one that belongs to another folder.
    using handpix::ProfileState;
    using handpix::SectionMatch;
    const std::string section = handpix::IndexSectionOfFolder(folder.str());
    int number = -1, dirnum = 0;
    if (handpix::ReadProfileInt(index.c_str(), section.c_str(), "Foldername", SectionMatch::kExact, number) ==
            ProfileState::kUnreadable ||
        handpix::ReadProfileInt(index.c_str(), "Info", "Dirnum", SectionMatch::kExact, dirnum) ==
            ProfileState::kUnreadable) {
        AfxMessageBox(kIndexReadFailed, MB_OK);
        progress.finished = true;
        tell();
        return;
    }
    const bool newFolder = number == -1;
    if (newFolder) number = dirnum + 1;
    const std::string cachePath = root + "/" + std::to_string(number);
    if (_mkdir(cachePath.c_str()) == 0) SetFileAttributesA(cachePath.c_str(), FILE_ATTRIBUTE_HIDDEN);
    CacheFolder cache(cachePath);

    std::string listName;
    if (kind == IMG_JPEG || kind == IMG_MPEG) listName = handpix::kThumbListNames[kind];

    ListReader reader(cache, listName, stopped);
    const std::string folderName = folder.str();
    Sources sources(folderName, kind);
    if (reader.Failed()) {
        AfxMessageBox(kReadFailed, MB_OK);
        progress.finished = true;
        tell();
        return;
    }
    std::unique_ptr<ListWriter> list;
    if (!listName.empty()) list = std::make_unique<ListWriter>(cache, listName);
    if (!list || !list->IsOpen()) {
        AfxMessageBox(kCreateFailed, MB_OK);
        progress.finished = true;
        tell();
        return;
    }

    const PreviousList& previous = reader.List();
    const std::size_t count = sources.files.size();
    progress.total = static_cast<int>(count);
    const std::string& jpgSuffix = sources.jpgSuffix;
    CString cacheDir(cachePath);
    const bool turning = handpix::GetAutoOrient();
    // Made by each file's job and dropped once its item is appended, so the
    // memory of a few plans serves the whole folder.
    std::vector<std::unique_ptr<Plan>> plans(count);

    // Each file is looked up, its thumbnail found or made and its item made on
    // this thread and on helpers; the items are appended here, one by one in
    // enumeration order.
    const int helpers = handpix::OrderedJobs::HelpersForMachine();
    std::vector<std::unique_ptr<CPicture>> working(static_cast<std::size_t>(helpers));
    std::vector<InfoMemo> memos(static_cast<std::size_t>(helpers) + 1);
    auto picture = [&](const Plan& plan, int helper) {
        if (helper == 0) return &m_picResize;
        std::unique_ptr<CPicture>& own = working[static_cast<std::size_t>(helper - 1)];
        if (!own && plan.action == Plan::Action::kMake) own = std::make_unique<CPicture>();
        return own.get();
    };
    auto makeItem = [&](std::size_t i, int helper) {
        plans[i] = std::make_unique<Plan>();
        Plan& plan = *plans[i];
        if (!LookUp(sources, i, plan)) return;  // gone since the listing
        plan.thumb = sources.Thumb(i);
        Decide(plan, sources.files[i], folderName, jpgSuffix, cache, previous, turning,
               memos[static_cast<std::size_t>(helper)]);
        plan.item = MakeItem(plan, sources.files[i], folder, cache, cacheDir, kind, picture(plan, helper));
    };
    std::vector<char> taken(previous.Lines(), 0);
    std::vector<std::string> spare;
    std::set<std::string> inUse;  // thumbnails this build shows or made: never stale
    bool written = false;
    std::size_t reached = 0;
    {
        handpix::OrderedJobs jobs(count, helpers, makeItem, [&] { return !stopped(); });
        for (; reached < count && !stopped(); ++reached) {
            CRect client;
            GetClientRect(&client);
            if (!jobs.WaitFor(reached)) break;
            Plan& plan = *plans[reached];
            if (!plan.file) {
                plans[reached].reset();
                --progress.total;
                tell();
                continue;
            }
            // A line goes to the first file of its key, as one table the
            // files took their lines from in turn would give it.
            if (plan.listed != PreviousList::kNone && std::exchange(taken[plan.listed], 1)) {
                plan.listed = PreviousList::kNone;
                if (plan.action == Plan::Action::kReuse) {
                    delete std::exchange(plan.item, nullptr);
                    plan.action = jpgSuffix.empty() ? Plan::Action::kMake : Plan::Action::kName;
                    plan.turn.clear();
                    plan.item = MakeItem(plan, sources.files[reached], folder, cache, cacheDir, kind, &m_picResize);
                }
            }
            CPhotoItem* item = std::exchange(plan.item, nullptr);
            if (plan.action == Plan::Action::kReuse) {
                inUse.insert(plan.thumb);
                ++progress.reused;
            } else {
                if (plan.hadFile) spare.push_back(plan.thumb.substr(0, plan.thumb.size() - jpgSuffix.size()));
                if (plan.action == Plan::Action::kMake) {
                    inUse.insert(plan.thumb);
                    ++progress.made;
                }
            }
            list->Write(plan.line);
            written = true;
            CRect cell;
            {
                Lock lock(m_lock);
                AddTail(item);
                cell = item->GetRect();
                cell.OffsetRect(-m_nHPos, -m_nVPos);
            }
            CRect visible;
            if (visible.IntersectRect(cell, client)) {
                InvalidateRect(&visible, FALSE);
                if (kind == IMG_MPEG) UpdateWindow();
            }
            plans[reached].reset();
            if (reached + 1 == kFirstScreenItems) reader.FirstScreenDone();
            ++progress.done;
            tell();
        }
    }  // the helpers are joined here
    reader.Finished();

    // A stopped build keeps what it did not reach: those files are still
    // there, so their lines and thumbnails carry over.
    if (SettleLeftLines(previous, taken, sources, plans, reached, spare, inUse, *list, cache)) written = true;

    list->Commit(written);
    if (!written) {
        ::rmdir(cachePath.c_str());
    } else if (newFolder) {
        int next = 0;
        // Read again, as the original did; an index gone unreadable meanwhile stays as it is.
        if (handpix::ReadProfileInt(index.c_str(), "Info", "Dirnum", SectionMatch::kExact, next) !=
            ProfileState::kUnreadable) {
            std::string value = std::to_string(next + 1);
            handpix::WriteProfileString(index.c_str(), "Info", "Dirnum", value.c_str(), SectionMatch::kExact);
            handpix::WriteProfileString(index.c_str(), section.c_str(), "Foldername", value.c_str(),
                                        SectionMatch::kExact);
        }
    }
    progress.finished = true;
    tell();
}
