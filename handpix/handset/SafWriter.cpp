#include "handpix/handset/SafWriter.h"

#include <zlib.h>

#include <algorithm>

namespace handpix {
namespace {

void Put16(Bytes& b, int v) {
    b.push_back(static_cast<std::uint8_t>((v >> 8) & 0xFF));
    b.push_back(static_cast<std::uint8_t>(v & 0xFF));
}

Bytes Deflate(const Bytes& raw, int windowBits) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, windowBits, 9, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    Bytes out(deflateBound(&z, static_cast<uLong>(raw.size())) + 16);
    z.next_in = const_cast<Bytef*>(raw.data());
    z.avail_in = static_cast<uInt>(raw.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    if (rc != Z_STREAM_END) return {};
    return out;
}

// Tag, one length byte, body: the shape of sub-chunks and display-list items.
Bytes TagLengthBody(int tag, const Bytes& body) {
    Bytes b(body.size() + 2);
    b[0] = static_cast<std::uint8_t>(tag);
    b[1] = static_cast<std::uint8_t>(body.size());
    std::copy(body.begin(), body.end(), b.begin() + 2);
    return b;
}

}  // namespace

Bytes SafSubChunk(int tag, const Bytes& body) { return TagLengthBody(tag, body); }

Bytes SafImageHeader(int width, int height, int bpp, int loop) {
    return SafSubChunk(1, {static_cast<std::uint8_t>(width), static_cast<std::uint8_t>(height),
                           static_cast<std::uint8_t>(bpp), 0, 0, static_cast<std::uint8_t>(loop)});
}

Bytes SafAnimation(int frames, int attribute) {
    return SafSubChunk(3, {static_cast<std::uint8_t>(frames), static_cast<std::uint8_t>(attribute), 0});
}

Bytes SafDelay(int delay) {
    Bytes body;
    Put16(body, delay);
    return SafSubChunk(10, body);
}

Bytes SafFrameDelays(const std::vector<int>& delays) {
    Bytes body;
    Put16(body, 0);
    for (int d : delays) Put16(body, d);
    return SafSubChunk(10, body);
}

Bytes SafPalette(int kind, const Bytes& bytes) {
    Bytes b = {2, 2, static_cast<std::uint8_t>(bytes.size() / 3), static_cast<std::uint8_t>(kind << 5)};
    if (kind == 1 || kind == 3) {
        Put16(b, static_cast<int>(bytes.size()));
        b.insert(b.end(), bytes.begin(), bytes.end());
    }
    return b;
}

Bytes SafColourTable(const std::vector<int>& entries) {
    Bytes body = {static_cast<std::uint8_t>(entries.size())};
    for (int e : entries) Put16(body, e);
    return SafSubChunk(9, body);
}

Bytes SafItem(int type, const Bytes& params) { return TagLengthBody(type, params); }

Bytes SafPlaceItem(const SafPlace& p) {
    int flags = 0;
    if (p.x < 0) flags |= 0x80;
    if (p.y < 0) flags |= 0x40;
    if (p.mirror) flags |= 0x20;
    if (p.flip) flags |= 0x10;
    if (p.alpha >= 0) flags |= 0x04;
    if (p.clip[0] >= 0) flags |= 0x02;
    if (p.angle >= 0) flags |= 0x01;
    Bytes params = {static_cast<std::uint8_t>(p.object), static_cast<std::uint8_t>(flags),
                    static_cast<std::uint8_t>((p.hMode << 6) | (p.vMode << 4) | (p.mode & 15)),
                    static_cast<std::uint8_t>(p.x < 0 ? -p.x : p.x), static_cast<std::uint8_t>(p.y < 0 ? -p.y : p.y)};
    if (p.hMode) params.push_back(static_cast<std::uint8_t>(p.hFactor));
    if (p.vMode) params.push_back(static_cast<std::uint8_t>(p.vFactor));
    if (p.angle >= 0) params.push_back(static_cast<std::uint8_t>(p.angle));
    if (p.clip[0] >= 0)
        for (int c : p.clip) params.push_back(static_cast<std::uint8_t>(c));
    if (p.alpha >= 0) params.push_back(static_cast<std::uint8_t>(p.alpha));
    return SafItem(0, params);
}

Bytes SafPack(const std::vector<int>& pixels, int bpp) {
    Bytes out(pixels.size() * bpp / 8, 0);
    const int perByte = 8 / bpp;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        if (i / perByte >= out.size()) break;
        const int shift = 8 - bpp * (1 + static_cast<int>(i % perByte));
        out[i / perByte] |= static_cast<std::uint8_t>((pixels[i] & ((1 << bpp) - 1)) << shift);
    }
    return out;
}

Bytes SafDeflate(const Bytes& raw) { return Deflate(raw, 15); }
Bytes SafRawDeflate(const Bytes& raw) { return Deflate(raw, -15); }

SafWriter& SafWriter::Signature(const Bytes& first5) {
    m_first = first5;
    return *this;
}

SafWriter& SafWriter::Version(int v) {
    m_first[4] = static_cast<std::uint8_t>(v);
    return *this;
}

SafWriter& SafWriter::DeclaredLength(int l) {
    m_declared = l;
    return *this;
}

SafWriter& SafWriter::Header(std::initializer_list<Bytes> subChunks) {
    Bytes run;
    for (const Bytes& s : subChunks) run.insert(run.end(), s.begin(), s.end());
    return HeaderRaw(run);
}

SafWriter& SafWriter::HeaderRaw(const Bytes& run) {
    Bytes payload;
    Put16(payload, static_cast<int>(run.size()));
    Chunk(7, payload);
    m_body.insert(m_body.end(), run.begin(), run.end());
    return *this;
}

SafWriter& SafWriter::Object(int number, int width, int height, int bpp, const std::vector<int>& pixels,
                             int transparent, int flag) {
    ObjectRaw(number | (flag << 7), width, height, 1, transparent, SafDeflate(SafPack(pixels, bpp)));
    return *this;
}

SafWriter& SafWriter::ObjectRaw(int number, int width, int height, int storage, int transparent,
                                const Bytes& data) {
    Bytes record = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(width),
                    static_cast<std::uint8_t>(height), static_cast<std::uint8_t>(storage),
                    static_cast<std::uint8_t>(transparent)};
    Put16(record, static_cast<int>(data.size()));
    Chunk(4, record);
    Put16(m_body, static_cast<int>(data.size()));
    m_body.insert(m_body.end(), data.begin(), data.end());
    return *this;
}

SafWriter& SafWriter::Frame(int background, std::initializer_list<Bytes> items) {
    return FrameItems(background, std::vector<Bytes>(items));
}

SafWriter& SafWriter::FrameItems(int background, const std::vector<Bytes>& items) {
    Bytes payload = {static_cast<std::uint8_t>(background), static_cast<std::uint8_t>(items.size())};
    for (const Bytes& i : items) payload.insert(payload.end(), i.begin(), i.end());
    return Chunk(6, payload);
}

SafWriter& SafWriter::Chunk(int tag, const Bytes& payload) {
    m_body.push_back(static_cast<std::uint8_t>(tag));
    Put16(m_body, static_cast<int>(payload.size()));
    m_body.insert(m_body.end(), payload.begin(), payload.end());
    return *this;
}

SafWriter& SafWriter::End() {
    m_body.push_back(8);
    Put16(m_body, 0);
    return *this;
}

Bytes SafWriter::Build() const {
    Bytes out = m_first;
    out.resize(5, 0);
    const int total = static_cast<int>(7 + m_body.size());
    Put16(out, m_declared >= 0 ? m_declared : (total > 0xFFFF ? 0xFFFF : total));
    out.insert(out.end(), m_body.begin(), m_body.end());
    return out;
}

}  // namespace handpix
