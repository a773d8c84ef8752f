// The resumable SAF parser. It never reads the stream itself: every byte
// comes through a read request (event 2) that the handler serves into the
// chunk buffer, so one call runs until it has to wait for the handler.
#include "handpix/handset/SafParser.h"

#include <algorithm>
#include <cstring>

#include "handpix/handset/SafState.h"
#include "handpix/platform/core/ByteReader.h"
#include "handpix/platform/core/Status.h"

namespace handpix {
namespace {

std::uint32_t Be16(const std::uint8_t* p) { return static_cast<std::uint32_t>((p[0] << 8) | p[1]); }

voidpf ArenaAlloc(voidpf opaque, uInt items, uInt size) {
    auto* st = static_cast<SafParserState*>(opaque);
    const std::size_t bytes = (static_cast<std::size_t>(items) * size + 15) & ~std::size_t{15};
    if (size != 0 && items > kSafInflateArena / size) return Z_NULL;
    if (bytes > st->arena.size() - st->arenaUsed) return Z_NULL;
    void* p = st->arena.data() + st->arenaUsed;
    st->arenaUsed += bytes;
    return p;
}
void ArenaFree(voidpf, voidpf) {}  // the arena is emptied as a whole per inflater

// Header sub-chunks. Each reader gets the bytes from the sub-chunk's third
// byte to the end of the run and returns the bytes the sub-chunk occupies
// (0 when it is malformed); fields may not reach past the run.

// Image header (tag 1): width, height, bits, two stored bytes, loop byte and
// an optional 32-bit value.
std::size_t ImageHeader(SafPictureInfo& info, ByteReader r, std::size_t l) {
    std::uint8_t w = 0, h = 0, bpp = 0, loop = 0;
    if (l < 6 || !r.U8(w) || !r.U8(h) || !r.U8(bpp) || !r.Skip(2) || !r.U8(loop)) return 0;
    info.width = w;
    info.height = h;
    info.bitsPerPixel = bpp;
    info.loopByte = loop;
    info.loop = loop == 1 ? 1 : 0;
    std::uint32_t value = 65536;
    if (l >= 7 && r.Has(4)) r.U32BE(value);
    info.headerValue = value;
    return l + 2;
}

// Palette (tag 2): kinds 1 and 3 carry their own byte count and data.
std::size_t Palette(SafPictureInfo& info, ByteReader r, std::size_t l) {
    std::uint8_t count = 0, type = 0;
    if (l < 2 || !r.U8(count) || !r.U8(type)) return 0;
    const unsigned kind = (type >> 5) & 3u;
    if (kind == 2) {
        for (std::uint32_t i = 0; i < 256; ++i)
            for (std::uint32_t c = 0; c < 3; ++c) info.palette[i * 3 + c] = static_cast<std::uint8_t>(i);
    }
    if (kind != 1 && kind != 3) return l + 2;
    std::uint16_t bytes = 0;
    if (!r.U16BE(bytes)) return 0;
    const std::uint8_t* data = r.Take(bytes);
    if (!data) return 0;
    if (kind == 1) {
        if (bytes > kSafPaletteBytes) return 0;
        std::memcpy(info.palette.data(), data, bytes);
        info.paletteSize = 256;
    }
    return bytes + l + 4;
}

// Animation (tag 3): frame count and attribute.
std::size_t Animation(SafPictureInfo& info, ByteReader r, std::size_t l) {
    std::uint8_t frames = 0, attribute = 0;
    if (l < 2 || !r.U8(frames) || !r.U8(attribute)) return 0;
    info.frameCount = frames;
    info.attribute = attribute;
    return l + 2;
}

// Colour table (tag 9): a count and that many 16-bit entries.
std::size_t ColourTable(SafPictureInfo& info, ByteReader r, std::size_t l) {
    std::uint8_t count = 0;
    if (l < 1 || !r.U8(count)) return 0;
    for (std::uint32_t i = 0; i < count; ++i)
        if (!r.U16BE(info.colourTable[i])) return 0;
    info.colourCount = count;
    return l + 2;
}

// Delays (tag 10): one for every frame, or 0 and then one per frame. The
// frame count comes from an earlier animation sub-chunk.
std::size_t Delays(SafPictureInfo& info, ByteReader r, std::size_t l) {
    std::uint16_t d = 0;
    if (l < 2 || !r.U16BE(d)) return 0;
    info.perFrameDelays = d == 0;
    for (std::uint32_t i = 0; i < info.frameCount; ++i) {
        std::uint16_t v = d;
        if (d == 0 && !r.U16BE(v)) return 0;
        if (i < kSafMaxFrames) info.delays[i] = v;
    }
    return l + 2;
}

// The run of header sub-chunks. The image header must lead; bits per pixel
// are judged only after the whole run, as the engine's output is 8 bits.
Status HeaderRun(SafPictureInfo& info, const std::uint8_t* run, std::size_t m) {
    ByteReader r(run, m);
    bool first = true;
    while (!r.AtEnd()) {
        std::uint8_t tag = 0, length = 0;
        if (!r.U8(tag) || !r.U8(length)) return Status::truncated;
        if (first && tag != 1) return Status::invalid;
        first = false;
        const ByteReader body(r.Current(), r.Remaining());
        std::size_t occupied = length + 2u;
        switch (tag) {
        case 1: occupied = ImageHeader(info, body, length); break;
        case 2: occupied = Palette(info, body, length); break;
        case 3: occupied = Animation(info, body, length); break;
        case 9: occupied = ColourTable(info, body, length); break;
        case 10: occupied = Delays(info, body, length); break;
        default: break;
        }
        if (occupied < 2 || !r.Skip(occupied - 2)) return Status::invalid;
    }
    if (first) return Status::truncated;
    return info.bitsPerPixel <= 8 ? Status::ok : Status::unsupported;
}

std::uint32_t Align4(std::uint32_t v) { return (v + 3u) & ~3u; }

}  // namespace

// The state machine proper, kept out of the public header.
class SafMachine {
public:
    explicit SafMachine(SafParserState& s) : st(s) {}

    void Send(SafEvent ev, SafEventRecord rec = {}) {
        st.lastEvent = ev;
        rec.token = st.token;
        if (st.handler) st.handler(st.context, ev, rec);
    }
    void Request(std::uint32_t position, std::uint32_t count, SafStep next) {
        st.requestPosition = position;
        st.requestCount = count;
        st.next = next;
        st.step = SafStep::read;
    }
    void ReadAtCursor(std::uint32_t count, SafStep next) {
        Request(st.cursor, count, next);
        st.cursor += count;
    }
    void Error() {
        EndInflater();
        st.step = SafStep::reset;
        st.running = false;
        Send(SafEvent::failed);
        st.handler = nullptr;
        st.context = nullptr;
    }
    void EndInflater() {
        if (st.zActive) inflateEnd(&st.zs);
        st.zActive = false;
    }
    bool BeginInflater(int windowBits) {
        EndInflater();
        st.arenaUsed = 0;
        st.zs = z_stream{};
        st.zs.zalloc = ArenaAlloc;
        st.zs.zfree = ArenaFree;
        st.zs.opaque = &st;
        if (inflateInit2(&st.zs, windowBits) != Z_OK) return false;
        st.zActive = true;
        return true;
    }

    // Runs until an event waits for the handler or the parser stops.
    void Run() {
        while (st.running) {
            if (!Advance()) return;
        }
    }

private:
    // One state; false when the parser must wait for the handler.
    bool Advance() {
        switch (st.step) {
        case SafStep::reset: return ResetParse();
        case SafStep::read: return SendRead();
        case SafStep::streamHeader: return StreamHeader();
        case SafStep::chunkHeader:
            ReadAtCursor(3, SafStep::chunk);
            return true;
        case SafStep::chunk: return Chunk();
        case SafStep::headerLength: return HeaderLength();
        case SafStep::headerRun: return HeaderRunDone();
        case SafStep::objectRecord: return ObjectRecord();
        case SafStep::objectData: return ObjectData();
        case SafStep::inflate: return InflatePiece();
        case SafStep::frameSetAside: st.step = SafStep::chunkHeader; return true;
        case SafStep::skipRest: return SkipRest();
        case SafStep::validate: return Validate();
        case SafStep::end: return End();
        case SafStep::frameStart: return FrameStart();
        case SafStep::frameItem: return FrameItem();
        }
        Error();
        return false;
    }

    bool ResetParse() {
        st.poolUsed = 0;
        st.frameChunks = 0;
        st.recordedFrames = 0;
        st.prepared = false;
        st.objects = {};
        st.info = SafPictureInfo{};
        st.cursor = 0;
        ReadAtCursor(7, SafStep::streamHeader);
        return true;
    }
    bool SendRead() {
        st.step = st.next;
        SafEventRecord rec;
        rec.destination = st.buffer.data();
        rec.position = st.requestPosition;
        rec.count = st.requestCount;
        Send(SafEvent::read, rec);
        return false;
    }
    bool StreamHeader() {
        const std::uint8_t* b = st.buffer.data();
        if (b[0] != 'S' || b[1] != 'A' || b[2] != 'F' || b[3] != 0 || (b[4] != 1 && b[4] != 2)) {
            Error();
            return false;
        }
        st.info.version = b[4];
        st.info.declaredLength = Be16(b + 5);
        st.step = SafStep::chunkHeader;
        return true;
    }
    bool Chunk() {
        st.chunkTag = st.buffer[0];
        st.chunkLength = Be16(st.buffer.data() + 1);
        const std::uint32_t n = st.chunkLength;
        const bool whole = n <= kSafChunkBuffer;
        switch (st.chunkTag) {
        case 7:
            if (!whole || n < 2) break;
            ReadAtCursor(n, SafStep::headerLength);
            return true;
        case 4:
            if (!whole || n < 7) break;
            ReadAtCursor(n, SafStep::objectRecord);
            return true;
        case 6:
            if (!whole) break;
            if (st.frameChunks < kSafMaxFrames) st.frames[st.recordedFrames++] = {st.cursor - 3, n + 3};
            ++st.frameChunks;
            ReadAtCursor(n, SafStep::frameSetAside);
            return true;
        case 8:
            st.step = SafStep::end;
            return true;
        case 11:
            if (!whole) break;
            ReadAtCursor(n, SafStep::validate);
            return true;
        default:
            if (st.cursor >= st.info.declaredLength) break;
            if (n <= kSafChunkBuffer) {
                ReadAtCursor(n, SafStep::chunkHeader);
            } else {
                st.skipLeft = n - kSafChunkBuffer;
                ReadAtCursor(kSafChunkBuffer, SafStep::skipRest);
            }
            return true;
        }
        Error();
        return false;
    }
    bool SkipRest() {
        if (st.skipLeft == 0) {
            st.step = SafStep::chunkHeader;
            return true;
        }
        const std::uint32_t piece = std::min(st.skipLeft, kSafChunkBuffer);
        st.skipLeft -= piece;
        ReadAtCursor(piece, SafStep::skipRest);
        return true;
    }
    bool HeaderLength() {
        st.headerLength = Be16(st.buffer.data());
        if (st.headerLength > kSafChunkBuffer) {
            Error();
            return false;
        }
        ReadAtCursor(st.headerLength, SafStep::headerRun);
        return true;
    }
    bool HeaderRunDone() {
        if (!Ok(HeaderRun(st.info, st.buffer.data(), st.headerLength))) {
            Error();
            return false;
        }
        SafEventRecord rec;
        rec.info = &st.info;
        if (st.mode == SafMode::probe) {
            st.running = false;
            st.step = SafStep::reset;
            Send(SafEvent::info, rec);
            st.handler = nullptr;
            st.context = nullptr;
            return false;
        }
        st.step = SafStep::chunkHeader;
        Send(SafEvent::info, rec);
        return true;
    }
    bool ObjectRecord() {
        const std::uint8_t* b = st.buffer.data();
        SafObject o;
        o.number = b[0] & 0x7Fu;
        o.flag = b[0] >> 7;
        o.width = b[1];
        o.height = b[2];
        o.storage = b[3];
        o.transparent = b[4];
        o.byteCount = Be16(b + 5);
        o.poolOffset = st.poolUsed;
        o.dataPosition = st.cursor;
        const std::size_t bytes = static_cast<std::size_t>(o.width) * o.height * st.info.bitsPerPixel / 8;
        if (o.width == 0 || o.height == 0 || st.poolUsed + bytes > st.poolSize) {
            Error();
            return false;
        }
        st.objectNumber = o.number;
        st.objects[o.number] = o;
        ReadAtCursor(2, SafStep::objectData);
        return true;
    }
    bool ObjectData() {
        const std::uint32_t d = Be16(st.buffer.data());
        SafObject& o = st.objects[st.objectNumber];
        if (o.storage == 0 || o.storage == 16) {
            Error();
            return false;
        }
        if (o.storage != 1) {
            st.cursor += d;  // skipped unread: no pixels are stored
            st.step = SafStep::chunkHeader;
            return true;
        }
        if (!BeginInflater(15)) {
            Error();
            return false;
        }
        const std::uint32_t bytes = o.width * o.height * st.info.bitsPerPixel / 8;
        st.zs.next_out = st.pool + o.poolOffset;
        st.zs.avail_out = bytes;
        st.dataLeft = d;
        const std::uint32_t piece = std::min(d, kSafObjectPiece);
        st.dataLeft -= piece;
        ReadAtCursor(piece, SafStep::inflate);
        return true;
    }
    bool InflatePiece() {
        st.zs.next_in = st.buffer.data();
        st.zs.avail_in = st.requestCount;
        const int rc = inflate(&st.zs, Z_NO_FLUSH);
        SafObject& o = st.objects[st.objectNumber];
        if (rc == Z_STREAM_END) {
            const std::uint32_t bytes = o.width * o.height * st.info.bitsPerPixel / 8;
            // A short object keeps defined pixels: the rest of its area is zero.
            if (st.zs.avail_out) std::memset(st.zs.next_out, 0, st.zs.avail_out);
            EndInflater();
            o.byteCount = bytes;
            st.poolUsed += bytes;
            // Compressed bytes left after the end are passed over.
            st.cursor += st.dataLeft;
            st.step = SafStep::chunkHeader;
            return true;
        }
        // Input left over means the object's area is full: too much data.
        if ((rc != Z_OK && rc != Z_BUF_ERROR) || st.zs.avail_in != 0 || st.dataLeft == 0) {
            Error();
            return false;
        }
        const std::uint32_t piece = std::min(st.dataLeft, kSafObjectPiece);
        st.dataLeft -= piece;
        ReadAtCursor(piece, SafStep::inflate);
        return true;
    }
    bool Validate() {
        if (!BeginInflater(-15)) {
            Error();
            return false;
        }
        std::array<std::uint8_t, 4096> sink;
        st.zs.next_in = st.buffer.data();
        st.zs.avail_in = st.requestCount;
        int rc = Z_OK;
        while (rc == Z_OK) {
            st.zs.next_out = sink.data();
            st.zs.avail_out = static_cast<uInt>(sink.size());
            rc = inflate(&st.zs, Z_NO_FLUSH);
            // Without output produced and without input left, inflate cannot go on.
            if (rc == Z_OK && st.zs.avail_in == 0 && st.zs.avail_out != 0) rc = Z_BUF_ERROR;
        }
        EndInflater();
        if (rc != Z_STREAM_END) {
            Error();
            return false;
        }
        st.step = SafStep::chunkHeader;
        return true;
    }
    bool End() {
        st.running = false;
        st.prepared = true;
        st.step = SafStep::reset;
        Send(SafEvent::ready);
        return false;
    }
    bool FrameStart() {
        const int r = st.renderer.StartFrame(st.buffer.data(), st.requestCount, st.output, st.outputSize,
                                             st.setup);
        if (r < 0) {
            Error();
            return false;
        }
        st.step = SafStep::frameItem;
        return true;
    }
    bool FrameItem() {
        const int r = st.renderer.DrawNextItem();
        if (r < -1) {
            Error();
            return false;
        }
        if (r == 0) {
            st.running = false;
            st.step = SafStep::reset;
            SafEventRecord rec;
            rec.frameBytes = st.info.width * st.info.height;
            rec.output = st.output;
            rec.delay = st.frame < kSafMaxFrames ? st.info.delays[st.frame] : 0;
            rec.lastFrame = st.frame + 1 == st.info.frameCount;
            Send(SafEvent::frameDone, rec);
            return false;
        }
        Send(SafEvent::yield);
        return false;
    }

    SafParserState& st;
};

namespace {

void MemoryHandler(void* context, SafEvent event, const SafEventRecord& rec) {
    auto* st = static_cast<SafParserState*>(context);
    st->pending = SafParserState::Pending::none;
    if (event == SafEvent::yield) {
        st->pending = SafParserState::Pending::resume;
    } else if (event == SafEvent::read) {
        const bool inside = rec.position <= st->streamSize && rec.count <= st->streamSize - rec.position;
        if (inside && st->stream) {
            if (rec.count) std::memcpy(rec.destination, st->stream + rec.position, rec.count);
            st->pending = SafParserState::Pending::resume;
        } else {
            st->pending = SafParserState::Pending::fail;
        }
    }
}

}  // namespace

SafParser::SafParser() : m_state(std::make_unique<SafParserState>()) {}

SafParser::~SafParser() { SafMachine(*m_state).EndInflater(); }

void SafParser::Reset() {
    SafParserState& st = *m_state;
    SafMachine(st).EndInflater();
    st.objects = {};
    st.frames = {};
    st.frameChunks = 0;
    st.recordedFrames = 0;
    st.info = SafPictureInfo{};
    st.prepared = false;
    st.running = false;
    st.step = SafStep::reset;
    st.handler = nullptr;
    st.context = nullptr;
    st.lastEvent = SafEvent::none;
    st.poolUsed = 0;
    st.pending = SafParserState::Pending::none;
}

void SafParser::SetWorkAreas(std::uint8_t* pool, std::size_t poolSize, std::uint8_t* blockStore,
                             std::size_t blockStoreSize) {
    SafParserState& st = *m_state;
    st.pool = pool;
    st.poolSize = pool ? poolSize : 0;
    st.blockStore = blockStore;
    st.blockStoreSize = blockStore ? blockStoreSize : 0;
}

void SafParser::Start(SafMode mode, SafHandler handler, void* context) {
    SafParserState& st = *m_state;
    SafMachine machine(st);
    if (st.running) {
        machine.EndInflater();
        machine.Send(SafEvent::abandoned);
    }
    st.token += 4;
    st.mode = mode;
    st.handler = handler;
    st.context = context;
    st.step = SafStep::reset;
    st.running = true;
    st.lastEvent = SafEvent::none;
    machine.Run();
}

void SafParser::Continue(std::uint32_t token) {
    SafParserState& st = *m_state;
    if (token != st.token || !st.running) return;
    st.lastEvent = SafEvent::none;
    SafMachine(st).Run();
}

void SafParser::Fail(std::uint32_t token) {
    SafParserState& st = *m_state;
    if (token != st.token || !st.running) return;
    SafMachine(st).Error();
}

void SafParser::RequestFrame(std::uint32_t frame, std::uint8_t* out, std::size_t outSize,
                             std::uint32_t token) {
    SafParserState& st = *m_state;
    if (token != st.token || st.running) return;
    SafMachine machine(st);
    st.running = true;
    st.lastEvent = SafEvent::none;
    const std::uint32_t w = st.info.width;
    const std::uint32_t h = st.info.height;
    const std::uint32_t bpp = st.info.bitsPerPixel;
    if (!st.prepared || frame >= st.info.frameCount || frame >= st.recordedFrames) {
        machine.Error();
        return;
    }
    // 1- and 2-bit placements compose in two scratch areas behind the
    // objects; 4-bit streams keep the same room free.
    saf::FrameSetup& fs = st.setup;
    fs = saf::FrameSetup{};
    if (bpp == 1 || bpp == 2 || bpp == 4) {
        const std::uint32_t first = bpp == 1 ? w * h / 8 : w * h / 4;
        const std::uint32_t need = bpp == 1 ? w * h / 4 + 8 : w * h / 2 + 8;
        const std::uint32_t s1 = Align4(st.poolUsed);
        const std::uint32_t s2 = Align4(s1 + first);
        if (st.poolSize < st.poolUsed || st.poolSize - st.poolUsed < need || s2 + first > st.poolSize) {
            machine.Error();
            return;
        }
        if (bpp != 4) {
            fs.scratch1 = st.pool + s1;
            fs.scratch2 = st.pool + s2;
            fs.scratchBytes = first;
        }
    }
    fs.objects = st.objects.data();
    fs.pool = st.pool;
    fs.poolSize = st.poolSize;
    fs.blockStore = st.blockStore;
    fs.blockStoreSize = st.blockStoreSize;
    fs.width = static_cast<int>(w);
    fs.height = static_cast<int>(h);
    fs.bpp = static_cast<int>(bpp);
    st.frame = frame;
    st.output = out;
    st.outputSize = out ? outSize : 0;
    const SafFrameEntry& e = st.frames[frame];
    if (e.size > kSafChunkBuffer) {
        machine.Error();
        return;
    }
    machine.Request(e.position, e.size, SafStep::frameStart);
    machine.Run();
}

SafEvent SafParser::Begin(SafMode mode, const std::uint8_t* stream, std::size_t size) {
    SafParserState& st = *m_state;
    st.stream = stream;
    st.streamSize = stream ? size : 0;
    st.pending = SafParserState::Pending::none;
    Start(mode, MemoryHandler, &st);
    st.stream = nullptr;
    return st.lastEvent;
}

SafEvent SafParser::Step(const std::uint8_t* stream, std::size_t size) {
    SafParserState& st = *m_state;
    const auto pending = st.pending;
    st.pending = SafParserState::Pending::none;
    st.stream = stream;
    st.streamSize = stream ? size : 0;
    if (st.handler != MemoryHandler || !st.running || pending == SafParserState::Pending::none) {
        st.stream = nullptr;
        st.lastEvent = SafEvent::none;
        return SafEvent::none;
    }
    if (pending == SafParserState::Pending::fail) {
        st.lastEvent = SafEvent::none;
        Fail(st.token);
    } else {
        Continue(st.token);
    }
    st.stream = nullptr;
    return st.lastEvent;
}

bool SafParser::RenderFrame(const std::uint8_t* stream, std::size_t size, std::uint32_t frame,
                            std::uint8_t* out, std::size_t outSize) {
    SafParserState& st = *m_state;
    if (st.running || !st.prepared) return false;
    st.handler = MemoryHandler;
    st.context = &st;
    st.pending = SafParserState::Pending::none;
    st.stream = stream;
    st.streamSize = stream ? size : 0;
    RequestFrame(frame, out, outSize, st.token);
    SafEvent ev = st.lastEvent;
    // Each step draws one item or serves one read, and a display list holds
    // at most 255 items, so this loop is bounded.
    while (ev == SafEvent::read || ev == SafEvent::yield) ev = Step(stream, size);
    st.stream = nullptr;
    return ev == SafEvent::frameDone;
}

const SafPictureInfo& SafParser::Info() const { return m_state->info; }
bool SafParser::Prepared() const { return m_state->prepared; }
bool SafParser::Running() const { return m_state->running; }
std::uint32_t SafParser::Token() const { return m_state->token; }
SafEvent SafParser::LastEvent() const { return m_state->lastEvent; }
std::uint32_t SafParser::FrameChunks() const { return m_state->frameChunks; }
std::uint32_t SafParser::PoolUsed() const { return m_state->poolUsed; }
const SafObject& SafParser::Object(std::uint32_t number) const { return m_state->objects[number & 127u]; }

}  // namespace handpix
