#include "handpix/handset/Engine.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace handpix {

namespace {

void ClearInfo(StreamInfo& info) { info = StreamInfo{}; }

}  // namespace

int Engine::ProbeSaf(const std::uint8_t* stream, std::size_t size, StreamInfo& info) {
    SafEvent ev = m_saf.Begin(SafMode::probe, stream, size);
    // Each step moves the read cursor forward, so the stream's length bounds
    // the number of steps; the cap only guards against a parser fault.
    for (std::size_t steps = 0; (ev == SafEvent::read || ev == SafEvent::yield) && steps <= 2 * size + 64; ++steps)
        ev = m_saf.Step(stream, size);
    if (ev != SafEvent::info) return 0;
    const SafPictureInfo& saf = m_saf.Info();
    info.frameCount = saf.frameCount;
    info.width = saf.width;
    info.height = saf.height;
    info.perFrameDelays = saf.perFrameDelays ? 1 : 0;
    const std::size_t delays = info.perFrameDelays
                                   ? std::min<std::size_t>({saf.frameCount, saf.delays.size(), kStreamInfoDelays})
                                   : 1;
    for (std::size_t i = 0; i < delays; ++i) info.delays[i] = saf.delays[i] / 100;
    info.attribute = saf.attribute;
    info.bitsPerPixel = saf.bitsPerPixel;
    info.loop = saf.loop;
    m_nSafBits = saf.bitsPerPixel;
    m_nSafWidth = saf.width;
    m_nSafHeight = saf.height;
    m_nSafFrames = saf.frameCount;
    m_nKind = EngineKind::saf;
    return 1;
}

int Engine::ProbeStream(const std::uint8_t* stream, std::size_t size, StreamInfo& info) {
    m_nKind = EngineKind::none;
    m_nBits = 8;
    m_bPrepared = false;
    m_bFirstCallDone = false;
    m_bSafStarted = false;
    m_nSafBits = 0;
    m_saf.Reset();
    ClearInfo(info);
    if (!stream || size < 4) return 0;
    switch (SisKindOf(stream, size)) {
    case 1:
        if (!Ok(ReadSisKind1Header(stream, size, m_kind1Header))) return 0;
        m_nKind = EngineKind::sisBits;
        info.frameCount = m_kind1Header.frameCount;
        info.width = m_kind1Header.width;
        info.height = m_kind1Header.height;
        info.delays[0] = m_kind1Header.delay;
        info.attribute = m_kind1Header.attribute;
        info.bitsPerPixel = 1;
        info.loop = (m_kind1Header.flags >> 3) & 1;
        return 1;
    case 2: {
        if (!Ok(ReadSisKind2Header(stream, size, m_kind2Header))) return 0;
        const SisKind2Header& h = m_kind2Header;
        m_nKind = EngineKind::sisBlocks;
        info.frameCount = h.frameCount;
        info.width = h.width;
        info.height = h.height;
        info.perFrameDelays = h.perFrameDelays ? 1 : 0;
        const std::uint32_t delays = h.perFrameDelays ? std::min(h.frameCount, kStreamInfoDelays) : 1;
        for (std::uint32_t i = 0; i < delays; ++i) info.delays[i] = h.Delay(stream, i);
        info.attribute = h.attribute;
        info.bitsPerPixel = h.kindByte;
        info.loop = (h.flags >> 7) & 1;
        return 1;
    }
    default:
        break;
    }
    if (stream[0] == 'S' && stream[1] == 'A' && stream[2] == 'F') {
        const int ok = ProbeSaf(stream, size, info);
        if (!ok) ClearInfo(info);
        return ok;
    }
    return 0;
}

int Engine::StartEngine(std::uint8_t* pool, std::size_t poolSize, std::uint8_t* blockStore,
                        std::size_t blockStoreSize, std::uint32_t width, std::uint32_t height) {
    m_pPool = pool;
    m_nPoolSize = pool ? poolSize : 0;
    m_pBlockStore = blockStore;
    m_nBlockStoreSize = blockStore ? blockStoreSize : 0;
    m_nWidth = width;
    m_nHeight = height;
    m_nBits = static_cast<std::uint32_t>(m_nKind);
    m_saf.SetWorkAreas(m_pPool, m_nPoolSize, m_pBlockStore, m_nBlockStoreSize);
    m_bFirstCallDone = false;
    m_bSafStarted = false;
    // A new start empties the pool, so nothing prepared before survives it.
    m_bPrepared = false;
    return 1;
}

// The first step or decode after a start empties the object table and gives
// the SIS decoders the start of the work areas.
void Engine::ResetForRequests() {
    if (m_bFirstCallDone) return;
    m_bFirstCallDone = true;
    m_saf.Reset();
    m_saf.SetWorkAreas(m_pPool, m_nPoolSize, m_pBlockStore, m_nBlockStoreSize);
    m_kind2.Start(m_pPool, m_nPoolSize, m_pBlockStore, m_nBlockStoreSize);
}

int Engine::StepSaf(const std::uint8_t* stream, std::size_t size) {
    SafEvent ev;
    if (!m_bSafStarted) {
        m_bSafStarted = true;
        ev = m_saf.Begin(SafMode::full, stream, size);
    } else {
        if (m_bPrepared) return 1;
        ev = m_saf.Step(stream, size);
    }
    switch (ev) {
    case SafEvent::ready:
        m_bPrepared = m_saf.Prepared();
        return m_bPrepared ? 1 : -1;
    case SafEvent::none:
    case SafEvent::failed:
    case SafEvent::abandoned:
        return -1;
    default:
        return 0;
    }
}

int Engine::StepEngine(const std::uint8_t* stream, std::size_t size) {
    ResetForRequests();
    switch (m_nKind) {
    case EngineKind::sisBits:
    case EngineKind::sisBlocks:
        return 1;
    case EngineKind::saf:
        if (m_nSafBits == 0) return 1;
        return StepSaf(stream, size);
    default:
        return -1;
    }
}

int Engine::DecodeSaf(const std::uint8_t* stream, std::size_t size, std::uint8_t* out, std::size_t outSize,
                      int frame) {
    // Each step reads forward through the stream; the cap only guards
    // against a parser that would never finish.
    for (std::size_t steps = 0; !m_bPrepared; ++steps) {
        if (steps > 4 * size + 64) return 0;
        const int r = StepEngine(stream, size);
        if (r < 0) return 0;
        if (r == 1 && !m_bPrepared) return 0;  // nothing to prepare: no frames
    }
    const SafPictureInfo& info = m_saf.Info();
    if (info.width != m_nSafWidth || info.height != m_nSafHeight || info.bitsPerPixel != m_nSafBits ||
        info.frameCount != m_nSafFrames)
        return 0;
    const std::uint32_t count = info.frameCount;
    if (frame >= 0) {
        if (static_cast<std::uint32_t>(frame) >= count) return 0;
        return m_saf.RenderFrame(stream, size, static_cast<std::uint32_t>(frame), out, outSize) ? 1 : 0;
    }
    const std::size_t slot = std::size_t{info.width} * info.height;
    if (count == 0 || slot * count > outSize) return 0;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (!m_saf.RenderFrame(stream, size, i, out + i * slot, slot)) return 0;
    }
    return static_cast<int>(count);
}

int Engine::DecodeFrames(const std::uint8_t* stream, std::size_t size, std::uint8_t* out, std::size_t outSize,
                         int frame) {
    ResetForRequests();
    if (!stream || !out || frame < -1) return 0;
    switch (m_nKind) {
    case EngineKind::sisBits:
        return m_kind1.DecodeKind1Frame(stream, size, out, outSize, frame);
    case EngineKind::sisBlocks:
        if (!m_kind2.Prepared() && !m_kind2.PrepareKind2(stream, size)) return 0;
        return m_kind2.DecodeKind2Frame(stream, size, out, outSize, frame);
    case EngineKind::saf:
        return DecodeSaf(stream, size, out, outSize, frame);
    default:
        return 0;
    }
}

namespace {

struct SharedEngine {
    std::mutex lock;
    Engine engine;
};

SharedEngine& Shared() {
    static const std::unique_ptr<SharedEngine> shared = std::make_unique<SharedEngine>();
    return *shared;
}

}  // namespace

int ProbeStream(const std::uint8_t* stream, std::size_t size, StreamInfo& info) {
    SharedEngine& s = Shared();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.engine.ProbeStream(stream, size, info);
}

int StartEngine(std::uint8_t* pool, std::size_t poolSize, std::uint8_t* blockStore, std::size_t blockStoreSize,
                std::uint32_t width, std::uint32_t height) {
    SharedEngine& s = Shared();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.engine.StartEngine(pool, poolSize, blockStore, blockStoreSize, width, height);
}

int StepEngine(const std::uint8_t* stream, std::size_t size) {
    SharedEngine& s = Shared();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.engine.StepEngine(stream, size);
}

int DecodeFrames(const std::uint8_t* stream, std::size_t size, std::uint8_t* out, std::size_t outSize, int frame) {
    SharedEngine& s = Shared();
    std::lock_guard<std::mutex> guard(s.lock);
    return s.engine.DecodeFrames(stream, size, out, outSize, frame);
}

}  // namespace handpix
