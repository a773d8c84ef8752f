// SAF streams: the resumable parser and the frame renderer behind it.
//
// How the engine front end drives a SafParser (one instance, owned by the
// engine object, used under the engine's lock):
//
//   ProbeStream:  parser.Reset();
//                 ev = parser.Begin(SafMode::probe, stream, size);
//                 while (ev is SafEvent::read or SafEvent::yield) ev = parser.Step(stream, size);
//                 success exactly when ev == SafEvent::info; then parser.Info() holds
//                 the picture information (delays are the stream's raw 16-bit
//                 values: the front end divides them by 100). A stream whose end
//                 chunk comes first ends in SafEvent::ready: that is a failure.
//   StartEngine:  parser.SetWorkAreas(pool, poolSize, blockStore, blockStoreSize);
//   StepEngine:   first call: ev = parser.Begin(SafMode::full, stream, size), later
//                 calls: ev = parser.Step(stream, size). Prepared() after ev ==
//                 SafEvent::ready gives 1; SafEvent::failed / abandoned / none give
//                 -1; anything else 0 (call again).
//   DecodeFrames: parser.RenderFrame(stream, size, frame, out, outSize) renders one
//                 frame (the slot holds width x height bytes; the first
//                 width x height x bits / 8 are the packed pixels) and returns
//                 false on any failure. For frame -1 the front end loops over
//                 Info().frameCount at a stride of width x height.
//
// Beneath that convenience layer sits the event interface itself (Start,
// Continue, RequestFrame, Fail with a handler and run tokens) for callers that
// serve the stream's bytes from elsewhere. Begin/Step/RenderFrame install a
// handler that serves reads from the (pointer, size) given to that call; the
// parser keeps no pointer into the stream between calls.
//
// Nothing allocates after construction: zlib's inflater works in a fixed
// arena inside the parser, objects live in the caller's pool, frames in the
// caller's slot.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace handpix {

constexpr std::uint32_t kSafMaxObjects = 128;   // addressed by a 7-bit number
constexpr std::uint32_t kSafMaxFrames = 128;    // entries of the frame table
constexpr std::uint32_t kSafChunkBuffer = 2048; // largest single read
constexpr std::uint32_t kSafObjectPiece = 1024; // largest read of compressed object data
constexpr std::uint32_t kSafPaletteBytes = 768;
constexpr std::uint32_t kSafMaxColourTable = 255;

enum class SafMode { probe, full };

// Events sent to the handler; the numbers are those of the stream protocol.
enum class SafEvent : int {
    none = -1,      // nothing reported (parser idle or never started)
    abandoned = 0,  // a running parse was dropped by a restart
    read = 2,       // copy record.count bytes at record.position to record.destination, then Continue
    failed = 3,     // the parse or frame failed; the parser is idle
    info = 4,       // picture information ready (record.info)
    ready = 5,      // every object stored: frames may be requested
    yield = 6,      // one step done; Continue when convenient
    frameDone = 7,  // the requested frame is complete
};

// The object table entry: nine 32-bit values.
struct SafObject {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t number = 0;
    std::uint32_t poolOffset = 0;   // pixel address in the object pool
    std::uint32_t byteCount = 0;    // pixel bytes once stored, else the record's 16-bit value
    std::uint32_t transparent = 0;  // colour key
    std::uint32_t storage = 0;      // 1: zlib-compressed pixels; others are skipped
    std::uint32_t flag = 0;         // bit 7 of the record's first byte, stored only
    std::uint32_t dataPosition = 0; // stream position of the 16-bit data length
};

struct SafPictureInfo {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t bitsPerPixel = 0;
    std::uint32_t colourCount = 0;  // entries of the colour table (sub-chunk 9)
    std::array<std::uint16_t, kSafMaxColourTable> colourTable{};
    std::uint32_t loop = 0;         // 1 when the image header's loop byte is 1
    std::uint32_t loopByte = 0;
    std::uint32_t frameCount = 0;   // as declared; may exceed kSafMaxFrames
    std::uint32_t attribute = 0;
    bool perFrameDelays = false;
    std::array<std::uint32_t, kSafMaxFrames> delays{};  // raw stream values
    std::uint32_t paletteSize = 0;  // 256 for an explicit palette, else 0
    std::array<std::uint8_t, kSafPaletteBytes> palette{};  // red, green, blue per entry
    std::uint32_t headerValue = 65536;  // the image header's stored 32-bit value
    std::uint32_t version = 0;
    std::uint32_t declaredLength = 0;
};

class SafParser;

// What an event carries; only the fields of that event are meaningful.
struct SafEventRecord {
    SafParser* parser = nullptr;
    std::uint32_t token = 0;
    // read
    std::uint8_t* destination = nullptr;
    std::uint32_t position = 0;
    std::uint32_t count = 0;
    // info
    const SafPictureInfo* info = nullptr;
    // frameDone
    std::uint32_t frameBytes = 0;
    std::uint8_t* output = nullptr;
    std::uint32_t delay = 0;
    bool lastFrame = false;
};

using SafHandler = void (*)(void* context, SafEvent event, const SafEventRecord& record);

class SafParserState;  // private parser and renderer state

class SafParser {
public:
    SafParser();
    ~SafParser();
    SafParser(const SafParser&) = delete;
    SafParser& operator=(const SafParser&) = delete;

    // Back to the state of a fresh parser: idle, no objects, no frames, not
    // prepared. The work areas are kept.
    void Reset();
    void SetWorkAreas(std::uint8_t* pool, std::size_t poolSize, std::uint8_t* blockStore,
                      std::size_t blockStoreSize);

    // Convenience layer over a stream held in memory (see the top of the file).
    SafEvent Begin(SafMode mode, const std::uint8_t* stream, std::size_t size);
    SafEvent Step(const std::uint8_t* stream, std::size_t size);
    bool RenderFrame(const std::uint8_t* stream, std::size_t size, std::uint32_t frame,
                     std::uint8_t* out, std::size_t outSize);

    // Event interface. Start abandons a running parse (event 0 to its
    // handler), advances the run token by 4, and runs the parser until its
    // first waiting event. Continue, RequestFrame and Fail ignore stale tokens.
    void Start(SafMode mode, SafHandler handler, void* context);
    void Continue(std::uint32_t token);
    void RequestFrame(std::uint32_t frame, std::uint8_t* out, std::size_t outSize,
                      std::uint32_t token);
    void Fail(std::uint32_t token);  // the handler could not serve a read

    const SafPictureInfo& Info() const;
    bool Prepared() const;
    bool Running() const;
    std::uint32_t Token() const;
    SafEvent LastEvent() const;   // the last event sent since the last Begin/Step/Start/Continue
    std::uint32_t FrameChunks() const;  // frame chunks met (recorded or not)
    std::uint32_t PoolUsed() const;
    const SafObject& Object(std::uint32_t number) const;  // number & 127

private:
    std::unique_ptr<SafParserState> m_state;
};

}  // namespace handpix
