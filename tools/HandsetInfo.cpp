#include "tools/HandsetInfo.h"

#include <fmt/core.h>

#include <cstdio>
#include <cstring>
#include <memory>

#include "handpix/handset/Engine.h"
#include "handpix/picture/Picture.h"
#include "handpix/platform/core/File.h"

namespace handpix::tool {
namespace {

constexpr std::size_t kStreamOffset = 152;
constexpr std::size_t kPaletteBytes = 512;
constexpr std::size_t kLargestSni = 150 + 2 + 30000 + kPaletteBytes;

bool ProbeSniStream(const std::string& path, const tagANIMATION_INFO_T& h, HandsetFacts& out, std::string& why) {
    std::vector<std::uint8_t> file;
    if (!ReadWholeFile(path.c_str(), file, kLargestSni)) {
        why = "cannot read the file, or its stream is longer than 30,000 bytes";
        return false;
    }
    const std::size_t trailer = h.byPalette ? kPaletteBytes : 0;
    if (file.size() < kStreamOffset + trailer) {
        why = "no room for the stream";
        return false;
    }
    StreamInfo info;
    if (!ProbeStream(file.data() + kStreamOffset, file.size() - kStreamOffset - trailer, info)) {
        why = "the embedded stream is not SIS or SAF";
        return false;
    }
    const char* sig = reinterpret_cast<const char*>(file.data() + kStreamOffset);
    out.stream = std::strncmp(sig, "SAF", 3) == 0 ? "SAF" : info.bitsPerPixel == 1 ? "SIS kind 1" : "SIS kind 2";
    out.streamWidth = static_cast<int>(info.width);
    out.streamHeight = static_cast<int>(info.height);
    out.streamBits = static_cast<int>(info.bitsPerPixel);
    out.loop = info.loop != 0;
    const std::uint32_t n = std::min<std::uint32_t>(info.frameCount, kStreamInfoDelays);
    for (std::uint32_t i = 0; i < n; ++i) out.delays.push_back(info.perFrameDelays ? info.delays[i] : info.delays[0]);
    return true;
}

bool ReadImgFacts(const std::string& path, HandsetFacts& out, std::string& why) {
    auto pic = std::make_unique<CPicture>();
    if (!pic->GetIMG(CString(path.c_str()))) {
        why = "not a readable IMG picture (short, or beyond 178 x 160)";
        return false;
    }
    out.width = static_cast<std::int16_t>(pic->m_ImgHeader[4] | (pic->m_ImgHeader[5] << 8));
    out.height = static_cast<std::int16_t>(pic->m_ImgHeader[6] | (pic->m_ImgHeader[7] << 8));
    out.bits = pic->m_ImgHeader[10];
    return true;
}

std::string DelayText(const std::vector<unsigned>& delays) {
    if (delays.empty()) return "no delays";
    bool same = true;
    for (unsigned d : delays) same = same && d == delays[0];
    if (same) return fmt::format("delay {}/10 s each", delays[0]);
    std::string s = "delays";
    for (std::size_t i = 0; i < delays.size(); ++i) s += fmt::format("{}{}", i ? "," : " ", delays[i]);
    return s + " (1/10 s)";
}

const char* FormatName(HandsetFormat f) {
    switch (f) {
        case HandsetFormat::sni: return "sni";
        case HandsetFormat::eba: return "eba";
        case HandsetFormat::img: return "img";
        default: return "?";
    }
}

}  // namespace

HandsetFormat DetectHandsetFile(const std::string& path) {
    char head[3] = {};
    std::FILE* f = OpenRegularFileStream(path.c_str());
    if (!f) return HandsetFormat::none;
    const std::size_t n = std::fread(head, 1, 3, f);
    std::fclose(f);
    if (n < 3) return HandsetFormat::none;
    if (std::memcmp(head, "SNI", 3) == 0) return HandsetFormat::sni;
    if (std::memcmp(head, "ANI", 3) == 0) return HandsetFormat::eba;
    if (std::memcmp(head, "IMG", 3) == 0) return HandsetFormat::img;
    return HandsetFormat::none;
}

bool ReadHandsetFacts(const std::string& path, HandsetFacts& out, std::string& why) {
    out = HandsetFacts{};
    out.format = DetectHandsetFile(path);
    if (out.format == HandsetFormat::none) {
        why = "not an SNI, EBA or IMG file";
        return false;
    }
    if (out.format == HandsetFormat::img) return ReadImgFacts(path, out, why);
    auto pic = std::make_unique<CPicture>();
    if (!pic->GetEBAHeader(CString(path.c_str()))) {
        why = "the header is not a readable animation (size, depth or frame count)";
        return false;
    }
    const tagANIMATION_INFO_T& h = *pic->GetAnimationInfo();
    out.width = h.nWidth;
    out.height = h.nHeight;
    out.bits = h.byBitCount;
    out.frames = h.byFrameCount;
    out.transparent = pic->m_bTransparent != 0;
    std::memcpy(out.key, pic->m_ColorKey, 3);
    if (out.format == HandsetFormat::eba) return true;
    out.ownPalette = h.byPalette != 0;
    return ProbeSniStream(path, h, out, why);
}

HandsetInfoResult DescribeHandsetFile(const std::string& path, std::string& line) {
    if (DetectHandsetFile(path) == HandsetFormat::none) return HandsetInfoResult::notHandset;
    HandsetFacts f;
    std::string why;
    if (!ReadHandsetFacts(path, f, why)) {
        line = why;
        return HandsetInfoResult::failed;
    }
    line = fmt::format("{}\t{}\t{} x {}\t{} bit{}", path, FormatName(f.format), f.width, f.height, f.bits,
                       f.bits == 1 ? "" : "s");
    if (f.format == HandsetFormat::img) return HandsetInfoResult::described;
    line += fmt::format("\t{} frame{}", f.frames, f.frames == 1 ? "" : "s");
    if (!f.stream.empty())
        line += fmt::format("\t{} {} x {} at {} bit{}\t{}\t{}", f.stream, f.streamWidth, f.streamHeight, f.streamBits,
                            f.streamBits == 1 ? "" : "s", DelayText(f.delays), f.loop ? "loops" : "plays once");
    if (f.bits == 8) line += f.ownPalette ? "\tpalette: own" : "\tpalette: RGB 3-3-2";
    line += f.transparent ? fmt::format("\ttransparent: #{:02X}{:02X}{:02X}", f.key[0], f.key[1], f.key[2])
                          : std::string("\ttransparent: none");
    return HandsetInfoResult::described;
}

}  // namespace handpix::tool
