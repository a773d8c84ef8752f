// Private state of SafParser: the parser's state machine, its chunk buffer,
// the tables it fills and the inflater with its fixed arena.
#pragma once
#include <zlib.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "handpix/handset/SafParser.h"
#include "handpix/handset/SafRender.h"

namespace handpix {

// Parser states; the numbers are the protocol's own so that traces match.
enum class SafStep : int {
    reset = 0,
    read = 1,          // a read request is pending: send event 2, then `next`
    streamHeader = 2,
    chunkHeader = 3,
    chunk = 4,
    headerLength = 5,
    headerRun = 6,
    objectRecord = 7,
    objectData = 8,
    inflate = 13,
    frameSetAside = 15,
    frameStart = 16,
    frameItem = 17,
    skipRest = 18,
    validate = 19,
    end = 21,
};

struct SafFrameEntry {
    std::uint32_t position = 0;  // of the chunk header
    std::uint32_t size = 0;      // header included
};

// zlib's inflate needs about 7 KB of state and a 32 KB window; both come
// from this arena so that preparing a stream never touches the heap.
constexpr std::size_t kSafInflateArena = 48 * 1024;

class SafParserState {
public:
    // Stream tables.
    SafPictureInfo info;
    std::array<SafObject, kSafMaxObjects> objects{};
    std::array<SafFrameEntry, kSafMaxFrames> frames{};
    std::uint32_t frameChunks = 0;
    std::uint32_t recordedFrames = 0;
    bool prepared = false;

    // Work areas.
    std::uint8_t* pool = nullptr;
    std::size_t poolSize = 0;
    std::uint32_t poolUsed = 0;
    std::uint8_t* blockStore = nullptr;
    std::size_t blockStoreSize = 0;

    // State machine.
    SafStep step = SafStep::reset;
    SafStep next = SafStep::reset;
    SafMode mode = SafMode::full;
    bool running = false;
    std::uint32_t token = 0;
    SafHandler handler = nullptr;
    void* context = nullptr;
    SafEvent lastEvent = SafEvent::none;
    std::uint32_t cursor = 0;       // next stream position to read
    std::uint32_t requestPosition = 0;
    std::uint32_t requestCount = 0;
    std::uint32_t chunkTag = 0;
    std::uint32_t chunkLength = 0;
    std::uint32_t skipLeft = 0;
    std::uint32_t headerLength = 0;
    std::uint32_t objectNumber = 0;
    std::uint32_t dataLeft = 0;     // compressed object bytes not yet read
    alignas(8) std::array<std::uint8_t, kSafChunkBuffer> buffer{};

    // Frame request.
    std::uint32_t frame = 0;
    std::uint8_t* output = nullptr;
    std::size_t outputSize = 0;
    saf::FrameSetup setup;
    saf::Renderer renderer;

    // Inflater.
    z_stream zs{};
    bool zActive = false;
    std::size_t arenaUsed = 0;
    alignas(16) std::array<std::uint8_t, kSafInflateArena> arena{};

    // The in-memory read handler of Begin/Step/RenderFrame.
    const std::uint8_t* stream = nullptr;
    std::size_t streamSize = 0;
    enum class Pending { none, resume, fail } pending = Pending::none;
};

}  // namespace handpix
