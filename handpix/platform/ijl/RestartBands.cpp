#include "handpix/platform/ijl/RestartBands.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <new>
#include <algorithm>
#include <atomic>
#include <numeric>
#include <thread>

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

bool IsRestart(std::uint8_t m) { return m >= kRst0 && m <= kRst7; }

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

// Every restart marker of the scan; false unless exactly `expected` of them,
// numbered in sequence, come before the EOI that ends the scan.
bool FindMarkers(const std::uint8_t* file, std::size_t size, std::uint64_t expected, RestartPlan& plan,
                 std::size_t& eoiAt) {
    if (expected > size / 2) return false;  // each marker takes two bytes
    plan.markerAt.reserve(static_cast<std::size_t>(expected));
    std::size_t at = plan.scanAt;
    while (at < size) {
        const void* hit = std::memchr(file + at, 0xFF, size - at);
        if (!hit) return false;
        const auto ff = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - file);
        if (ff + 1 >= size) return false;
        const std::uint8_t m = file[ff + 1];
        at = ff + 2;
        if (m == 0) continue;  // a stuffed data byte
        const std::size_t seen = plan.markerAt.size();
        if (m == kEoi && seen == expected) {
            eoiAt = ff;
            return true;
        }
        if (!IsRestart(m) || seen == expected || m - kRst0 != static_cast<int>(seen % 8)) return false;
        plan.markerAt.push_back(ff);
    }
    return false;
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
        bands.push_back(RestartBand{static_cast<std::uint32_t>(first), static_cast<std::uint32_t>(end - first),
                                    static_cast<std::uint32_t>(mcus / l.restartInterval), 0, 0});
        largest = std::max(largest, end - first);
        first = end;
    }
    // Lopsided bands leave one core doing most of the work for the cost of reading the file whole.
    return bands.size() >= 2 && largest * 4 <= std::uint64_t{l.mcuRows} * 3;
}

}  // namespace

RestartPlan PlanRestartBands(const std::uint8_t* file, std::size_t size, const RestartLayout& layout,
                             unsigned bands) {
    RestartPlan plan;
    if (!file || !layout.mcusPerRow || !layout.mcuRows || !layout.mcuHeight || !layout.restartInterval) return plan;
    std::vector<RestartBand> chosen;
    if (!ChooseBands(layout, bands, chosen)) return plan;
    const std::uint64_t mcus = std::uint64_t{layout.mcusPerRow} * layout.mcuRows;
    const std::uint64_t intervals = (mcus + layout.restartInterval - 1) / layout.restartInterval;
    std::size_t eoiAt = 0;
    const auto heightIn = [&](std::size_t at) { return static_cast<std::uint32_t>(file[at] << 8 | file[at + 1]); };
    if (!FindScan(file, size, plan) || heightIn(plan.heightAt) != layout.height ||
        !FindMarkers(file, size, intervals - 1, plan, eoiAt)) {
        plan.markerAt.clear();
        return plan;
    }
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        RestartBand& b = chosen[i];
        b.begin = b.firstInterval ? plan.markerAt[b.firstInterval - 1] + 2 : plan.scanAt;
        b.end = i + 1 < chosen.size() ? plan.markerAt[chosen[i + 1].firstInterval - 1] : eoiAt;
    }
    plan.bands = std::move(chosen);
    return plan;
}

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
    if (!c.scale_num || !c.scale_denom || std::uint64_t{out.mcuHeight} * c.scale_num % c.scale_denom) return false;
    const unsigned mcuWidth = 8u * static_cast<unsigned>(h);
    out.mcusPerRow = (c.image_width + mcuWidth - 1) / mcuWidth;
    out.mcuRows = (c.image_height + out.mcuHeight - 1) / out.mcuHeight;
    out.height = c.image_height;
    out.restartInterval = c.restart_interval;
    return out.mcusPerRow && out.mcuRows;
}

namespace {

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

// A libjpeg source over a few pieces of memory in turn: the headers with the
// band's height in the frame header, the band's entropy bytes, an EOI.
struct PieceSource {
    jpeg_source_mgr pub;
    struct Piece {
        const JOCTET* data;
        std::size_t size;
    } piece[5];
    int pieces, next;
};

void Nothing(j_decompress_ptr) {}

boolean NextPiece(j_decompress_ptr c) {
    auto& s = *reinterpret_cast<PieceSource*>(c->src);
    while (s.next < s.pieces) {
        const PieceSource::Piece& p = s.piece[s.next++];
        if (!p.size) continue;
        s.pub.next_input_byte = p.data;
        s.pub.bytes_in_buffer = p.size;
        return TRUE;
    }
    // Past the end: the warning fails the band.
    FeedEndOfImage(c);
    return TRUE;
}

struct BandJob {
    JpegErrorManager err;
    jpeg_decompress_struct cinfo;
    PieceSource source;
    const Settings* settings = nullptr;
    JOCTET height[2] = {};
    std::vector<JSAMPROW> rows;  // where the band's output rows go
    // A band that does not open with interval 0 mod 8 needs its markers renumbered:
    // libjpeg expects RST0 first. The copy is made on the band's own thread.
    std::unique_ptr<JOCTET[]> copy;
    const JOCTET* entropy = nullptr;
    std::size_t entropySize = 0;
    const std::size_t* markerAt = nullptr;  // in the file; the band's own ones only
    std::size_t markers = 0, begin = 0;
    bool created = false, ok = false;
};

void DecodeBand(void* context) {
    BandJob& j = *static_cast<BandJob*>(context);
    const Settings& s = *j.settings;
    jpeg_decompress_struct& c = j.cinfo;
    jpeg_create_decompress(&c);
    j.created = true;
    c.mem->max_memory_to_use = s.maxMemory;
    c.src = &j.source.pub;
    jpeg_read_header(&c, TRUE);
    c.jpeg_color_space = s.jpegSpace;
    c.out_color_space = s.outSpace;
    c.scale_num = s.scaleNum;
    c.scale_denom = s.scaleDenom;
    c.do_fancy_upsampling = s.fancy;
    c.dct_method = s.dct;
    jpeg_calc_output_dimensions(&c);
    if (c.output_width != s.width || c.output_height != j.rows.size() || c.output_components != s.components) return;
    jpeg_start_decompress(&c);
    while (c.output_scanline < c.output_height)
        if (!jpeg_read_scanlines(&c, j.rows.data() + c.output_scanline, c.output_height - c.output_scanline)) return;
    jpeg_finish_decompress(&c);
    // A warning (a short or padded segment, a marker out of place) may mean the
    // single decode would read these bytes differently: the band does not count.
    j.ok = c.err->num_warnings == 0;
}

void RunBand(BandJob* j) noexcept {
    if (j->copy) {
        std::memcpy(j->copy.get(), j->entropy, j->entropySize);
        for (std::size_t k = 0; k < j->markers; ++k)
            j->copy[j->markerAt[k] - j->begin + 1] = static_cast<JOCTET>(kRst0 + k % 8);
        j->source.piece[3].data = j->copy.get();
    }
    j->cinfo.err = InitJpegErrors(j->err, true);
    JpegGuarded(j->err, DecodeBand, j);
    if (j->created) jpeg_destroy_decompress(&j->cinfo);
}

// The band's file: the headers up to the frame height, the band's height,
// the rest of the headers, the band's entropy bytes, EOI.
void UsePieces(BandJob& j, const RestartPlan& plan, const std::uint8_t* file) {
    static const JOCTET kEoiBytes[2] = {0xFF, kEoi};
    PieceSource& src = j.source;
    src.piece[0] = {file, plan.heightAt};
    src.piece[1] = {j.height, 2};
    src.piece[2] = {file + plan.heightAt + 2, plan.scanAt - plan.heightAt - 2};
    src.piece[3] = {j.entropy, j.entropySize};
    src.piece[4] = {kEoiBytes, 2};
    src.pieces = 5;
    src.next = 0;
    src.pub.init_source = Nothing;
    src.pub.fill_input_buffer = NextPiece;
    src.pub.skip_input_data = SkipThroughFill;
    src.pub.resync_to_restart = jpeg_resync_to_restart;
    src.pub.term_source = Nothing;
    src.pub.next_input_byte = nullptr;
    src.pub.bytes_in_buffer = 0;
}

// Everything a band needs, made before any thread starts; false when the
// bands' output rows do not add up to the caller's.
bool SetUpBands(const RestartPlan& plan, const RestartLayout& l, const std::uint8_t* file, const Settings& s,
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
        j.begin = b.begin;
        j.entropy = file + b.begin;
        j.entropySize = b.end - b.begin;
        const std::size_t lastInterval = last ? plan.markerAt.size() + 1 : plan.bands[i + 1].firstInterval;
        j.markers = lastInterval - b.firstInterval - 1;
        j.markerAt = plan.markerAt.data() + b.firstInterval;
        if (b.firstInterval % 8) j.copy.reset(new JOCTET[j.entropySize]);
        UsePieces(j, plan, file);
    }
    return outRow == outputHeight;
}

// The threads take bands in turn from one counter, so the bands of a thread
// that could not be started go to the others; after a failure no new band
// starts. One band per thread: with four per thread the 12-megapixel bench
// spent nearly twice the CPU (every band has a decoder of its own to set up).
struct BandQueue {
    std::vector<BandJob>& jobs;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};
};

void TakeBands(BandQueue* q) noexcept {
    for (std::size_t i = q->next++; i < q->jobs.size() && !q->failed; i = q->next++) {
        RunBand(&q->jobs[i]);
        if (!q->jobs[i].ok) q->failed = true;
    }
}

bool DecodeBands(const jpeg_decompress_struct& c, const std::uint8_t* file, std::size_t size,
                 const RestartLayout& layout, const BandOutput& out, unsigned threads) {
    const RestartPlan plan = PlanRestartBands(file, size, layout, threads);
    if (plan.bands.empty()) return false;
    const Settings s{c.jpeg_color_space, c.out_color_space, c.scale_num, c.scale_denom, c.do_fancy_upsampling,
                     c.dct_method, c.output_width, c.output_components, c.mem->max_memory_to_use};
    std::vector<BandJob> jobs(plan.bands.size());
    if (!SetUpBands(plan, layout, file, s, c.output_height, out, jobs)) return false;
    BandQueue queue{jobs};
    std::vector<std::thread> workers;
    const std::size_t helpers = std::min<std::size_t>(threads, jobs.size()) - 1;
    workers.reserve(helpers);
    try {
        while (workers.size() < helpers) workers.emplace_back(TakeBands, &queue);
    } catch (...) {
        // No more threads to be had: those running, and this one, take every band.
    }
    TakeBands(&queue);
    for (std::thread& t : workers) t.join();
    for (const BandJob& j : jobs)
        if (!j.ok) return false;
    return true;
}

unsigned Threads(unsigned asked) {
    return std::min(asked ? asked : std::thread::hardware_concurrency(), kMaxThreads);
}

}  // namespace

bool DecodeRestartBands(const jpeg_decompress_struct& c, const std::uint8_t* file, std::size_t size,
                        const BandOutput& out, unsigned threads) {
    RestartLayout layout;
    threads = Threads(threads);
    if (threads < 2 || !out.rows || !RestartLayoutOf(c, layout)) return false;
    try {
        return DecodeBands(c, file, size, layout, out, threads);
    } catch (...) {
        return false;  // out of memory on the way: the single decode still may do
    }
}

bool DecodeRestartBands(const jpeg_decompress_struct& c, int fd, const BandOutput& out, unsigned threads) {
    RestartLayout layout;
    threads = Threads(threads);
    if (threads < 2 || !out.rows || !RestartLayoutOf(c, layout)) return false;
    struct stat st;
    if (::fstat(fd, &st) != 0 || st.st_size <= 0) return false;
    const auto size = static_cast<std::size_t>(st.st_size);
    std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[size]);
    if (!bytes) return false;
    for (std::size_t got = 0; got < size;) {
        const ssize_t n = ::pread(fd, bytes.get() + got, size - got, static_cast<off_t>(got));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        got += static_cast<std::size_t>(n);
    }
    return DecodeRestartBands(c, bytes.get(), size, out, threads);
}

}  // namespace handpix
