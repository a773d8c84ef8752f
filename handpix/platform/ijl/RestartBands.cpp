#include "handpix/platform/ijl/RestartBands.h"

#include <sys/stat.h>
#include <unistd.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <numeric>
#include <thread>
#include <vector>

#include "handpix/platform/core/ByteReader.h"
#include "handpix/platform/ijl/JpegGuard.h"
// after jpeglib.h, which JpegGuard.h brings
#include <jerror.h>

namespace handpix {
namespace {

// Marker codes (ITU-T T.81, Table B.1).
constexpr std::uint8_t kSof0 = 0xC0, kSof1 = 0xC1, kSof15 = 0xCF, kDht = 0xC4, kJpg = 0xC8, kDac = 0xCC;
constexpr std::uint8_t kRst0 = 0xD0, kRst7 = 0xD7, kSoi = 0xD8, kEoi = 0xD9, kSos = 0xDA, kTem = 0x01;

// A band shorter than this costs a decoder's set-up more than it saves.
constexpr std::uint32_t kMinBandRows = 2;
// More threads than this gain nothing on a thumbnail.
constexpr unsigned kMaxThreads = 64;
// Read first, alone, to find the scan; camera headers (EXIF with its
// thumbnail, ICC, XMP) mostly fit, and longer ones are read whole.
constexpr std::size_t kHeadBytes = 64u << 10;
// The rest of a file goes through buffers of this size, one per thread and
// band, rather than into one buffer of its size: touching fresh pages cost a
// one-shot process more than reading the file twice (once to find the
// markers, once to decode) from the page cache into the same few warm pages.
constexpr std::size_t kReadChunk = 64u << 10;
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

bool IsRestart(std::uint8_t m) { return m >= kRst0 && m <= kRst7; }

struct RestartBand {
    std::uint32_t firstRow = 0, rows = 0;  // MCU rows
    std::uint32_t firstInterval = 0;       // the restart interval the band opens with
    std::size_t begin = 0, end = 0;        // its entropy bytes, the markers between its intervals included
};

struct RestartPlan {
    std::size_t heightAt = 0;           // the frame header's 16-bit height
    std::size_t scanAt = 0;             // the first entropy byte, right after the scan header
    std::size_t eoiAt = 0;              // the EOI that ends the scan
    std::vector<std::size_t> markerAt;  // every restart marker, in order
    std::vector<RestartBand> bands;
};

// Walks the marker segments from SOI to the first SOS: where the frame
// height sits and where the scan's data begins.
bool FindScan(const std::uint8_t* file, std::size_t size, RestartPlan& plan) {
    ByteReader r(file, size);
    std::uint8_t a = 0, m = 0;
    if (!r.U8(a) || !r.U8(m) || a != 0xFF || m != kSoi) return false;
    for (;;) {
        if (!r.U8(a) || a != 0xFF) return false;
        do {  // fill bytes may pad a marker
            if (!r.U8(m)) return false;
        } while (m == 0xFF);
        if (m == 0 || m == kSoi || m == kEoi || m == kTem || IsRestart(m)) return false;
        std::uint16_t length = 0;
        if (!r.U16BE(length) || length < 2 || !r.Has(length - 2u)) return false;
        const std::size_t at = r.Position();
        if (m == kSof0 || m == kSof1) {
            if (plan.heightAt || length < 8) return false;
            plan.heightAt = at + 1;
        } else if (m > kSof1 && m <= kSof15 && m != kDht && m != kJpg && m != kDac) {
            return false;  // a frame of another kind
        } else if (m == kSos) {
            plan.scanAt = at + length - 2;
            return plan.heightAt != 0;
        }
        r.Skip(length - 2u);
    }
}

// Bytes [at, at + n) of the file into `into`; false unless all came.
bool ReadAt(int fd, std::uint8_t* into, std::size_t n, std::size_t at) {
    for (std::size_t got = 0; got < n;) {
        const ssize_t r = ::pread(fd, into + got, n - got, static_cast<off_t>(at + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

// Calls found(i) for every 0xFF at p[i] (i < n - 1) followed by a byte other
// than 0, in order, until it returns false: in a scan those are the markers,
// 0xFF 0x00 standing for a data byte. Sixteen bytes at a time where SSE2 is
// at hand: most blocks of coded data hold no 0xFF and are passed at once.
template <class Found>
void FindMarkerBytes(const std::uint8_t* p, std::size_t n, Found found) {
    std::size_t at = 0;
#if defined(__SSE2__)
    const __m128i ff = _mm_set1_epi8(static_cast<char>(0xFF)), zero = _mm_setzero_si128();
    for (; at + 16 < n; at += 16) {
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at)), ff)));
        if (!mask) continue;
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at + 1));
        mask &= ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(next, zero)));
        for (; mask; mask &= mask - 1)
            if (!found(at + static_cast<std::size_t>(std::countr_zero(mask)))) return;
    }
#endif
    for (; at + 1 < n; ++at)
        if (p[at] == 0xFF && p[at + 1] != 0 && !found(at)) return;
}

struct Marker {
    std::size_t at = kNone;  // its 0xFF
    std::uint8_t code = 0;
};

// One thread's share of the scan: the markers whose 0xFF lies in [begin, end),
// its restart markers in order, then the first other marker (or a restart
// marker past the count the layout allows), where the scan ends or goes wrong.
struct Share {
    std::size_t begin = 0, end = 0;
    std::vector<Marker> restarts;
    Marker stop;
    bool ok = true;  // read, and its list held
};

// The markers in p[0, n), file bytes from `base` on; false once the share's stop is found.
bool SearchBytes(const std::uint8_t* p, std::size_t n, std::size_t base, std::uint64_t expected, Share& s) {
    FindMarkerBytes(p, n, [&](std::size_t i) {
        const Marker m{base + i, p[i + 1]};
        if (!IsRestart(m.code) || s.restarts.size() >= expected) {
            s.stop = m;
            return false;
        }
        s.restarts.push_back(m);
        return true;
    });
    return s.stop.at == kNone;
}

// The file as the bands see it: its first `held` bytes in memory (all of it
// when fd is -1), the rest read from fd as needed.
struct FileBytes {
    const std::uint8_t* bytes;
    std::size_t held;
    int fd;
    std::size_t size;
};

// A share's markers, its last byte's pair included (the next share's first
// byte); from the file a buffer at a time, each buffer's last byte read again
// as the next one's first so that no pair is split.
bool SearchShare(const FileBytes& f, std::uint64_t expected, std::uint8_t* buffer, Share& s) {
    const std::size_t limit = std::min(s.end + 1, f.size);
    if (f.fd < 0) {
        if (s.begin < limit) SearchBytes(f.bytes + s.begin, limit - s.begin, s.begin, expected, s);
        return true;
    }
    for (std::size_t at = s.begin; at + 1 < limit;) {
        const std::size_t n = std::min(kReadChunk, limit - at);
        if (!ReadAt(f.fd, buffer, n, at)) return false;
        if (!SearchBytes(buffer, n, at, expected, s)) break;
        at += n - 1;
    }
    return true;
}

// The shares' markers joined: false unless exactly `expected` restart
// markers, numbered in sequence, come before the EOI that ends the scan.
bool JoinMarkers(const std::vector<Share>& shares, std::uint64_t expected, RestartPlan& plan) {
    plan.markerAt.reserve(static_cast<std::size_t>(expected));
    for (const Share& s : shares) {
        if (!s.ok) return false;
        for (const Marker& m : s.restarts) {
            const std::size_t seen = plan.markerAt.size();
            if (seen == expected || m.code - kRst0 != static_cast<int>(seen % 8)) return false;
            plan.markerAt.push_back(m.at);
        }
        if (s.stop.at != kNone) {
            plan.eoiAt = s.stop.at;
            return s.stop.code == kEoi && plan.markerAt.size() == expected;
        }
    }
    return false;  // no EOI
}

// Band edges at the MCU rows that open a restart interval, as near to equal
// shares as those rows allow; false when no split is worth making.
bool ChooseBands(const RestartLayout& l, unsigned wanted, std::vector<RestartBand>& bands) {
    // Intervals open an MCU row every `step` rows: lcm(mcusPerRow, interval) / mcusPerRow.
    const std::uint64_t step = l.restartInterval / std::gcd(l.mcusPerRow, l.restartInterval);
    const std::uint64_t n = std::min<std::uint64_t>(wanted, l.mcuRows / kMinBandRows);
    std::uint64_t first = 0, largest = 0;
    for (std::uint64_t i = 1; i <= n; ++i) {
        std::uint64_t end = l.mcuRows;
        if (i < n) {
            const std::uint64_t share = std::uint64_t{l.mcuRows} * i / n;
            end = (share + step / 2) / step * step;
            if (end < first + kMinBandRows || end + kMinBandRows > l.mcuRows) continue;
        }
        const std::uint64_t mcus = first * l.mcusPerRow;
        bands.push_back(RestartBand{static_cast<std::uint32_t>(first),
                                    static_cast<std::uint32_t>(end - first),
                                    static_cast<std::uint32_t>(mcus / l.restartInterval), 0, 0});
        largest = std::max(largest, end - first);
        first = end;
    }
    // Lopsided bands leave one core doing most of the work for the cost of reading the file whole.
    return bands.size() >= 2 && largest * 4 <= std::uint64_t{l.mcuRows} * 3;
}

// The output settings every band copies from the caller's decompressor.
struct Settings {
    J_COLOR_SPACE jpegSpace, outSpace;
    unsigned scaleNum, scaleDenom;
    boolean fancy;
    J_DCT_METHOD dct;
    JDIMENSION width;
    int components;
    long maxMemory;
};

// A libjpeg source over a few pieces in turn: the headers with the band's
// height in the frame header, the band's entropy bytes, an EOI. A piece
// without data stands for file bytes, read a buffer at a time.
struct PieceSource {
    jpeg_source_mgr pub;
    struct Piece {
        const JOCTET* data;
        std::size_t size;
        std::size_t fileAt;  // where a piece without data is read from
    } piece[5];
    int pieces, next;
    int firstInterval;  // the file's number of the band's first restart interval, mod 8
    int fd;
    JOCTET* buffer;
};

void Nothing(j_decompress_ptr) {}

boolean NextPiece(j_decompress_ptr c) {
    auto& s = *reinterpret_cast<PieceSource*>(c->src);
    for (; s.next < s.pieces; ++s.next) {
        PieceSource::Piece& p = s.piece[s.next];
        if (!p.size) continue;
        const JOCTET* data = p.data;
        std::size_t n = p.size;
        if (!data) {
            n = std::min(n, kReadChunk);
            if (!ReadAt(s.fd, s.buffer, n, p.fileAt)) break;
            data = s.buffer;
            p.fileAt += n;
        }
        p.size -= n;
        s.pub.next_input_byte = data;
        s.pub.bytes_in_buffer = n;
        return TRUE;
    }
    // Past the end, or the file could not be read: the warning fails the band.
    FeedEndOfImage(c);
    return TRUE;
}

// A band's markers keep the file's numbers, which run on from its first
// interval where libjpeg counts from RST0, so libjpeg asks here about each one
// that is not the number it counted. The number the file holds at that point
// is taken as libjpeg takes its own; anything else goes to libjpeg's resync,
// whose warning fails the band. Renumbering would mean copying the band.
boolean ResyncFromFirstInterval(j_decompress_ptr c, int desired) {
    const auto& s = *reinterpret_cast<const PieceSource*>(c->src);
    if (c->unread_marker == kRst0 + ((desired + s.firstInterval) & 7)) {
        c->unread_marker = 0;
        return TRUE;
    }
    return jpeg_resync_to_restart(c, desired);
}

struct BandJob {
    JpegErrorManager err;
    jpeg_decompress_struct cinfo;
    PieceSource source;
    const Settings* settings = nullptr;
    JOCTET height[2] = {};
    std::vector<JSAMPROW> rows;  // where the band's output rows go
    bool created = false, ok = false;
};

void DecodeBand(void* context) {
    BandJob& j = *static_cast<BandJob*>(context);
    const Settings& s = *j.settings;
    jpeg_decompress_struct& c = j.cinfo;
    jpeg_create_decompress(&c);
    j.created = true;
    c.mem->max_memory_to_use = s.maxMemory;
    if (j.source.fd >= 0)
        j.source.buffer = static_cast<JOCTET*>(
            (*c.mem->alloc_large)(reinterpret_cast<j_common_ptr>(&c), JPOOL_PERMANENT, kReadChunk));
    c.src = &j.source.pub;
    jpeg_read_header(&c, TRUE);
    c.jpeg_color_space = s.jpegSpace;
    c.out_color_space = s.outSpace;
    c.scale_num = s.scaleNum;
    c.scale_denom = s.scaleDenom;
    c.do_fancy_upsampling = s.fancy;
    c.dct_method = s.dct;
    jpeg_calc_output_dimensions(&c);
    if (c.output_width != s.width || c.output_height != j.rows.size() || c.output_components != s.components)
        return;
    jpeg_start_decompress(&c);
    while (c.output_scanline < c.output_height)
        if (!jpeg_read_scanlines(&c, j.rows.data() + c.output_scanline, c.output_height - c.output_scanline))
            return;
    jpeg_finish_decompress(&c);
    // A warning (a short or padded segment, a marker out of place) may mean the
    // single decode would read these bytes differently: the band does not count.
    j.ok = c.err->num_warnings == 0;
}

void RunBand(BandJob* j) noexcept {
    j->cinfo.err = InitJpegErrors(j->err, true);
    JpegGuarded(j->err, DecodeBand, j);
    if (j->created) jpeg_destroy_decompress(&j->cinfo);
}

// The band's file: the headers up to the frame height, the band's height,
// the rest of the headers, the band's entropy bytes, EOI.
void UsePieces(BandJob& j, const RestartPlan& plan, const RestartBand& b, const FileBytes& f) {
    static const JOCTET kEoiBytes[2] = {0xFF, kEoi};
    PieceSource& src = j.source;
    src.piece[0] = {f.bytes, plan.heightAt, 0};
    src.piece[1] = {j.height, 2, 0};
    src.piece[2] = {f.bytes + plan.heightAt + 2, plan.scanAt - plan.heightAt - 2, 0};
    src.piece[3] = {f.fd < 0 ? f.bytes + b.begin : nullptr, b.end - b.begin, b.begin};
    src.piece[4] = {kEoiBytes, 2, 0};
    src.pieces = 5;
    src.next = 0;
    src.firstInterval = static_cast<int>(b.firstInterval % 8);
    src.fd = f.fd;
    src.buffer = nullptr;
    src.pub.init_source = Nothing;
    src.pub.fill_input_buffer = NextPiece;
    src.pub.skip_input_data = SkipThroughFill;
    src.pub.resync_to_restart = ResyncFromFirstInterval;
    src.pub.term_source = Nothing;
    src.pub.next_input_byte = nullptr;
    src.pub.bytes_in_buffer = 0;
}

// Everything a band needs, made before the bands start; false when the
// bands' output rows do not add up to the caller's.
bool SetUpBands(const RestartPlan& plan, const RestartLayout& l, const FileBytes& file, const Settings& s,
                JDIMENSION outputHeight, const BandOutput& out, std::vector<BandJob>& jobs) {
    JDIMENSION outRow = 0;
    for (std::size_t i = 0; i < jobs.size(); ++i) {
        const RestartBand& b = plan.bands[i];
        BandJob& j = jobs[i];
        j.settings = &s;
        const bool last = i + 1 == jobs.size();
        const std::uint32_t top = b.firstRow * l.mcuHeight;
        const std::uint32_t height = last ? l.height - top : b.rows * l.mcuHeight;
        j.height[0] = static_cast<JOCTET>(height >> 8);
        j.height[1] = static_cast<JOCTET>(height);
        // libjpeg's own rounding of a scaled size.
        const std::uint64_t scaled = std::uint64_t{height} * s.scaleNum;
        const auto rows = static_cast<JDIMENSION>((scaled + s.scaleDenom - 1) / s.scaleDenom);
        if (rows > outputHeight - outRow) return false;
        j.rows.resize(rows);
        for (JDIMENSION r = 0; r < rows; ++r) {
            const JDIMENSION y = out.bottomUp ? outputHeight - 1 - (outRow + r) : outRow + r;
            j.rows[r] = out.rows + y * out.rowBytes;
        }
        outRow += rows;
        UsePieces(j, plan, b, file);
    }
    return outRow == outputHeight;
}

// One decode in bands. The threads first take shares of the scan (reading
// them from the file when there is one, so the reading and its page faults
// are spread too) and search them for markers; the calling thread joins the
// lists, checks them and sets up the bands, and the threads then take bands.
// Both are taken in turn from counters, so the work of a thread that could
// not be started goes to the others. One band per thread: with four per
// thread the 12-megapixel bench spent nearly twice the CPU (every band has a
// decoder of its own to set up).
struct BandRun {
    enum Phase : int { kSearching, kDecoding, kDeclined };

    const FileBytes file;
    const std::uint64_t expected;
    std::vector<Share> shares;
    std::vector<BandJob> jobs;
    std::atomic<std::size_t> nextShare{0}, sharesDone{0}, nextBand{0};
    std::atomic<int> phase{kSearching};
    std::atomic<bool> failed{false};

    void TakeShares() noexcept {
        std::unique_ptr<std::uint8_t[]> buffer;
        for (std::size_t i = nextShare++; i < shares.size(); i = nextShare++) {
            Share& s = shares[i];
            try {
                if (file.fd >= 0 && !buffer) buffer.reset(new std::uint8_t[kReadChunk]);
                s.ok = SearchShare(file, expected, buffer.get(), s);
            } catch (...) {
                s.ok = false;  // no buffer, or the marker list could not grow
            }
            ++sharesDone;
            sharesDone.notify_all();
        }
    }

    void TakeBands() noexcept {
        for (std::size_t i = nextBand++; i < jobs.size() && !failed; i = nextBand++) {
            RunBand(&jobs[i]);
            if (!jobs[i].ok) failed = true;
        }
    }

    void Help() noexcept {
        TakeShares();
        phase.wait(kSearching);
        if (phase == kDecoding) TakeBands();
    }

    void AwaitShares() const {
        for (std::size_t done = sharesDone; done < shares.size(); done = sharesDone) sharesDone.wait(done);
    }
};

// The part after the headers cut into one share per thread.
std::vector<Share> CutShares(std::size_t from, std::size_t size, std::size_t count) {
    std::vector<Share> shares(count);
    const std::size_t length = size - from;
    for (std::size_t i = 0; i < count; ++i) {
        shares[i].begin = from + length / count * i;
        shares[i].end = i + 1 < count ? from + length / count * (i + 1) : size;
    }
    return shares;
}

// The plan's bands with their entropy bytes, once the markers are known.
void PlaceBands(RestartPlan& plan) {
    for (std::size_t i = 0; i < plan.bands.size(); ++i) {
        RestartBand& b = plan.bands[i];
        b.begin = b.firstInterval ? plan.markerAt[b.firstInterval - 1] + 2 : plan.scanAt;
        b.end = i + 1 < plan.bands.size() ? plan.markerAt[plan.bands[i + 1].firstInterval - 1] : plan.eoiAt;
    }
}

// `file` holds at least the headers.
bool DecodeBands(const jpeg_decompress_struct& c, const FileBytes& file, const RestartLayout& layout,
                 const BandOutput& out, unsigned threads) {
    RestartPlan plan;
    if (!ChooseBands(layout, threads, plan.bands)) return false;
    const std::uint8_t* const b = file.bytes;
    if (!FindScan(b, file.held, plan)) return false;
    if (static_cast<std::uint32_t>(b[plan.heightAt] << 8 | b[plan.heightAt + 1]) != layout.height)
        return false;
    const std::uint64_t mcus = std::uint64_t{layout.mcusPerRow} * layout.mcuRows;
    const std::uint64_t expected = (mcus + layout.restartInterval - 1) / layout.restartInterval - 1;
    if (expected > file.size / 2) return false;  // each marker takes two bytes
    const Settings s{c.jpeg_color_space, c.out_color_space,     c.scale_num,
                     c.scale_denom,      c.do_fancy_upsampling, c.dct_method,
                     c.output_width,     c.output_components,   c.mem->max_memory_to_use};
    const std::size_t workers = plan.bands.size();
    BandRun run{file, expected, CutShares(plan.scanAt, file.size, workers), {}};
    std::vector<std::thread> helpers;
    helpers.reserve(workers - 1);
    try {
        while (helpers.size() < workers - 1) helpers.emplace_back(&BandRun::Help, &run);
    } catch (...) {
        // No more threads to be had: those running, and this one, do every share and band.
    }
    run.TakeShares();
    run.AwaitShares();
    bool ready = false;
    try {
        if (JoinMarkers(run.shares, expected, plan)) {
            PlaceBands(plan);
            run.jobs.resize(plan.bands.size());
            ready = SetUpBands(plan, layout, file, s, c.output_height, out, run.jobs);
        }
    } catch (...) {
        ready = false;  // out of memory: the single decode still may do
    }
    run.phase = ready ? BandRun::kDecoding : BandRun::kDeclined;
    run.phase.notify_all();
    if (ready) run.TakeBands();
    for (std::thread& t : helpers) t.join();
    for (const BandJob& j : run.jobs)
        if (!j.ok) return false;
    return ready;
}

unsigned Threads(unsigned asked) {
    return std::min(asked ? asked : std::thread::hardware_concurrency(), kMaxThreads);
}

}  // namespace

bool RestartLayoutOf(const jpeg_decompress_struct& c, RestartLayout& out) {
    if (!c.restart_interval || c.progressive_mode || c.arith_code || c.data_precision != 8) return false;
    if (c.quantize_colors || c.raw_data_out || c.comps_in_scan != c.num_components) return false;
    if (c.num_components != 1 && c.num_components != 3) return false;
    for (int i = 1; i < c.num_components; ++i)
        if (c.comp_info[i].h_samp_factor != 1 || c.comp_info[i].v_samp_factor != 1) return false;
    const int h = c.comp_info[0].h_samp_factor, v = c.comp_info[0].v_samp_factor;
    if (h < 1 || h > 2 || v < 1 || v > 2 || (c.num_components == 1 && h * v != 1)) return false;
    // Fancy upsampling that stretches chroma vertically blends rows across MCU-row edges.
    if (v == 2 && c.do_fancy_upsampling) return false;
    out.mcuHeight = 8u * static_cast<unsigned>(v);
    // A band must start on a whole output row.
    if (!c.scale_num || !c.scale_denom || std::uint64_t{out.mcuHeight} * c.scale_num % c.scale_denom)
        return false;
    const unsigned mcuWidth = 8u * static_cast<unsigned>(h);
    out.mcusPerRow = (c.image_width + mcuWidth - 1) / mcuWidth;
    out.mcuRows = (c.image_height + out.mcuHeight - 1) / out.mcuHeight;
    out.height = c.image_height;
    out.restartInterval = c.restart_interval;
    return out.mcusPerRow && out.mcuRows;
}

bool DecodeRestartBands(const jpeg_decompress_struct& c, const std::uint8_t* file, std::size_t size,
                        const BandOutput& out, unsigned threads) {
    RestartLayout layout;
    threads = Threads(threads);
    if (threads < 2 || !file || !out.rows || !RestartLayoutOf(c, layout)) return false;
    try {
        return DecodeBands(c, FileBytes{file, size, -1, size}, layout, out, threads);
    } catch (...) {
        return false;  // out of memory on the way: the single decode still may do
    }
}

bool DecodeRestartBands(const jpeg_decompress_struct& c, int fd, const BandOutput& out, unsigned threads,
                        const std::uint8_t* head, std::size_t headSize) {
    RestartLayout layout;
    threads = Threads(threads);
    if (threads < 2 || !out.rows || !RestartLayoutOf(c, layout)) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size <= 0) return false;
    const auto size = static_cast<std::size_t>(st.st_size);
    try {
        RestartPlan probe;
        std::size_t held = std::min(size, headSize);
        std::unique_ptr<std::uint8_t[]> own;
        if (!head || !FindScan(head, held, probe)) {
            held = std::min(size, kHeadBytes);
            own.reset(new std::uint8_t[held]);
            head = own.get();
            if (!ReadAt(fd, own.get(), held, 0)) return false;
        }
        if (own && !FindScan(head, held, probe)) {
            if (held == size) return false;
            // Headers longer than the head: the whole file in memory.
            own.reset(new std::uint8_t[size]);
            return ReadAt(fd, own.get(), size, 0) &&
                   DecodeBands(c, FileBytes{own.get(), size, -1, size}, layout, out, threads);
        }
        return DecodeBands(c, FileBytes{head, held, fd, size}, layout, out, threads);
    } catch (...) {
        return false;  // out of memory on the way: the single decode still may do
    }
}

}  // namespace handpix
