// The handset image decoder engine: turns an embedded "SIS" (kind 1 or 2) or
// "SAF" stream, held whole in memory, into raw frames.
//
// Entry points (the SNI reader calls them exactly in this order):
//
//   int ProbeStream(stream, size, StreamInfo& info)
//       Non-zero when the stream is kind 1, kind 2 or SAF with an acceptable
//       header, and fills info; 0 otherwise. Resets the engine for a new
//       stream.
//   int StartEngine(pool, poolSize, blockStore, blockStoreSize, width, height)
//       Always 1. Hands the engine its work areas (the SNI reader gives a
//       65,536-byte object pool and a 25,600-byte block store); both must stay
//       valid until the last DecodeFrames returns. The output bits per pixel
//       become the stream kind (1, 2 or 8).
//   int StepEngine(stream, size)
//       1 when frames may be requested, 0 when a SAF stream needs further
//       steps, -1 on failure. SIS streams are ready at once.
//   int DecodeFrames(stream, size, out, outSize, frame)
//       Renders frame `frame` into the first slot of out, or every frame one
//       slot after another for frame -1. Positive on success, 0 on failure
//       (including a frame at or beyond the frame count, and an out buffer of
//       outSize bytes too small for the slots). Slot sizes: width x height / 8
//       bytes for kind 1, / 4 for kind 2, width x height bytes for SAF (packed
//       at the stream's own bits per pixel).
//
// Raw frames: rows top first, no gap between rows; below 8 bits per pixel the
// first pixel of each byte sits in its most significant bits.
//
// The free functions work on one process-wide Engine under its own mutex;
// an Engine object may also be used on its own (tests do).
#pragma once
#include <cstddef>
#include <cstdint>

#include "handpix/handset/SafParser.h"
#include "handpix/handset/SisHeader.h"
#include "handpix/handset/SisKind1.h"
#include "handpix/handset/SisKind2.h"

namespace handpix {

inline constexpr std::uint32_t kStreamInfoDelays = 200;  // as many as the SNI reader keeps

// Picture information of a probed stream.
struct StreamInfo {
    std::uint32_t frameCount = 0;
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::uint32_t perFrameDelays = 0;  // 1: delays[i] for every frame; 0: only delays[0]
    std::uint32_t delays[kStreamInfoDelays] = {};  // SAF: the stream's value / 100
    std::uint32_t attribute = 0;
    std::uint32_t bitsPerPixel = 0;  // 1, the kind-2 kind byte, or SAF's own 1, 2, 4, 8
    std::uint32_t loop = 0;
};

enum class EngineKind : int { none = 0, sisBits = 1, sisBlocks = 2, saf = 8 };

class Engine {
public:
    Engine() = default;
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    int ProbeStream(const std::uint8_t* stream, std::size_t size, StreamInfo& info);
    int StartEngine(std::uint8_t* pool, std::size_t poolSize, std::uint8_t* blockStore, std::size_t blockStoreSize,
                    std::uint32_t width, std::uint32_t height);
    int StepEngine(const std::uint8_t* stream, std::size_t size);
    int DecodeFrames(const std::uint8_t* stream, std::size_t size, std::uint8_t* out, std::size_t outSize,
                     int frame);

    EngineKind Kind() const { return m_nKind; }
    std::uint32_t OutputBits() const { return m_nBits; }
    std::size_t Kind2PoolUsed() const { return m_kind2.PoolUsed(); }

private:
    int ProbeSaf(const std::uint8_t* stream, std::size_t size, StreamInfo& info);
    void ResetForRequests();
    int StepSaf(const std::uint8_t* stream, std::size_t size);
    int DecodeSaf(const std::uint8_t* stream, std::size_t size, std::uint8_t* out, std::size_t outSize, int frame);

    EngineKind m_nKind = EngineKind::none;
    std::uint32_t m_nWidth = 0;   // as given to StartEngine
    std::uint32_t m_nHeight = 0;
    std::uint32_t m_nBits = 8;
    std::uint8_t* m_pPool = nullptr;
    std::size_t m_nPoolSize = 0;
    std::uint8_t* m_pBlockStore = nullptr;
    std::size_t m_nBlockStoreSize = 0;
    SisKind1Header m_kind1Header;
    SisKind2Header m_kind2Header;
    std::uint32_t m_nSafBits = 0;
    // The SAF picture as probed; a stream that says otherwise once fully
    // parsed (a second header chunk) is refused rather than drawn into slots
    // sized for the probe.
    std::uint32_t m_nSafWidth = 0;
    std::uint32_t m_nSafHeight = 0;
    std::uint32_t m_nSafFrames = 0;
    bool m_bPrepared = false;
    bool m_bFirstCallDone = false;
    bool m_bSafStarted = false;
    SafParser m_saf;
    SisKind1Decoder m_kind1;
    SisKind2Decoder m_kind2;
};

// The process-wide engine, each call under the engine's lock.
int ProbeStream(const std::uint8_t* stream, std::size_t size, StreamInfo& info);
int StartEngine(std::uint8_t* pool, std::size_t poolSize, std::uint8_t* blockStore, std::size_t blockStoreSize,
                std::uint32_t width, std::uint32_t height);
int StepEngine(const std::uint8_t* stream, std::size_t size);
int DecodeFrames(const std::uint8_t* stream, std::size_t size, std::uint8_t* out, std::size_t outSize, int frame);

}  // namespace handpix
