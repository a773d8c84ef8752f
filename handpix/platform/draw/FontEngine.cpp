#include "handpix/platform/draw/FontEngine.h"

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_OUTLINE_H
#include FT_TRUETYPE_TABLES_H
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <unordered_map>
#include <utility>

#include "handpix/platform/draw/GdiObject.h"

namespace handpix::text {
namespace {

// The Korean system faces resolve to the Baekmuk family closest in shape, with
// NanumGothic behind them for hosts that lack Baekmuk.
constexpr const char kAliases[] = R"(<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <alias binding="strong"><family>굴림</family>
    <prefer><family>Baekmuk Gulim</family><family>NanumGothic</family></prefer></alias>
  <alias binding="strong"><family>Gulim</family>
    <prefer><family>Baekmuk Gulim</family><family>NanumGothic</family></prefer></alias>
  <alias binding="strong"><family>굴림체</family>
    <prefer><family>Baekmuk Gulim</family><family>NanumGothicCoding</family><family>NanumGothic</family></prefer></alias>
  <alias binding="strong"><family>GulimChe</family>
    <prefer><family>Baekmuk Gulim</family><family>NanumGothicCoding</family><family>NanumGothic</family></prefer></alias>
  <alias binding="strong"><family>돋움</family>
    <prefer><family>Baekmuk Dotum</family><family>NanumGothic</family></prefer></alias>
  <alias binding="strong"><family>Dotum</family>
    <prefer><family>Baekmuk Dotum</family><family>NanumGothic</family></prefer></alias>
  <alias binding="strong"><family>바탕</family>
    <prefer><family>Baekmuk Batang</family><family>NanumMyeongjo</family></prefer></alias>
  <alias binding="strong"><family>Batang</family>
    <prefer><family>Baekmuk Batang</family><family>NanumMyeongjo</family></prefer></alias>
</fontconfig>
)";

// Used when fontconfig finds nothing (no configuration at all on the host).
constexpr const char* kLastResortFiles[] = {
    "/usr/share/fonts/truetype/baekmuk/gulim.ttf",
    "/usr/share/fonts/truetype/nanum/NanumGothic.ttf",
};
constexpr std::size_t kMaxChain = 10;     // fallback faces per font
constexpr std::size_t kMaxInstances = 256;  // distinct fonts kept resolved
constexpr int kCrispMaxPixels = 20;        // up to this em size text is drawn without grey edges

struct FaceRef {
    std::string file;
    int index = 0;
};

class Instance;

struct Engine {
    std::mutex mu;
    FT_Library ft = nullptr;
    FcConfig* fc = nullptr;
    std::map<std::pair<std::string, int>, FT_Face> faces;
    std::unordered_map<std::string, std::vector<FaceRef>> chains;
    std::unordered_map<std::string, std::shared_ptr<Instance>> instances;

    Engine() {
        if (FT_Init_FreeType(&ft) != 0) ft = nullptr;
        fc = FcInitLoadConfigAndFonts();
        if (fc) FcConfigParseAndLoadFromMemory(fc, reinterpret_cast<const FcChar8*>(kAliases), FcFalse);
    }
    // Never destroyed: glyph pointers handed out stay valid until exit.

    FT_Face Face(const FaceRef& ref) {
        auto key = std::make_pair(ref.file, ref.index);
        auto it = faces.find(key);
        if (it != faces.end()) return it->second;
        FT_Face face = nullptr;
        if (ft && FT_New_Face(ft, ref.file.c_str(), ref.index, &face) != 0) face = nullptr;
        faces.emplace(key, face);
        return face;
    }

    std::vector<FaceRef> Resolve(const std::string& family, int weight, bool italic);
};

Engine& TheEngine() {
    static Engine* engine = new Engine();
    return *engine;
}

std::vector<FaceRef> Engine::Resolve(const std::string& family, int weight, bool italic) {
    std::string key = family + '\x1f' + std::to_string(weight) + (italic ? "i" : "r");
    auto it = chains.find(key);
    if (it != chains.end()) return it->second;
    std::vector<FaceRef> chain;
    if (fc) {
        FcPattern* p = FcPatternCreate();
        FcPatternAddString(p, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
        FcPatternAddInteger(p, FC_WEIGHT, FcWeightFromOpenType(weight > 0 ? weight : 400));
        FcPatternAddInteger(p, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcPatternAddString(p, FC_LANG, reinterpret_cast<const FcChar8*>("ko"));
        FcConfigSubstitute(fc, p, FcMatchPattern);
        FcDefaultSubstitute(p);
        FcResult result;
        FcFontSet* set = FcFontSort(fc, p, FcTrue, nullptr, &result);
        if (set) {
            for (int i = 0; i < set->nfont && chain.size() < kMaxChain; ++i) {
                FcChar8* file = nullptr;
                int index = 0;
                if (FcPatternGetString(set->fonts[i], FC_FILE, 0, &file) != FcResultMatch) continue;
                FcPatternGetInteger(set->fonts[i], FC_INDEX, 0, &index);
                chain.push_back({reinterpret_cast<const char*>(file), index});
            }
            FcFontSetDestroy(set);
        }
        FcPatternDestroy(p);
    }
    for (const char* f : kLastResortFiles) chain.push_back({f, 0});
    chains.emplace(key, chain);
    return chain;
}

class Instance final : public FontInstance {
public:
    Instance(std::vector<FT_Face> faces, int ppem, bool mono, bool embolden, int ascent, int descent)
        : m_faces(std::move(faces)), m_ppem(ppem), m_mono(mono), m_embolden(embolden) {
        m_ascent = ascent;
        m_descent = descent;
        m_ascii.fill(nullptr);
    }

    const Glyph* GlyphFor(char32_t c) override {
        if (c < m_ascii.size() && m_ascii[c]) return m_ascii[c];
        auto it = m_glyphs.find(c);
        if (it == m_glyphs.end()) it = m_glyphs.emplace(c, Render(c)).first;
        if (c < m_ascii.size()) m_ascii[c] = &it->second;
        return &it->second;
    }

    bool HasGlyph(char32_t c) override {
        for (FT_Face f : m_faces)
            if (FT_Get_Char_Index(f, c) != 0) return true;
        return false;
    }

private:
    Glyph Render(char32_t c) {
        FT_Face face = m_faces.front();
        FT_UInt index = 0;
        for (FT_Face f : m_faces) {
            index = FT_Get_Char_Index(f, c);
            if (index != 0) {
                face = f;
                break;
            }
        }
        Glyph g;
        if (FT_Set_Pixel_Sizes(face, 0, static_cast<FT_UInt>(m_ppem)) != 0) return g;
        FT_Int32 flags = FT_LOAD_DEFAULT | (m_mono ? FT_LOAD_TARGET_MONO : FT_LOAD_TARGET_NORMAL);
        if (FT_Load_Glyph(face, index, flags) != 0) return g;
        FT_GlyphSlot slot = face->glyph;
        if (slot->format == FT_GLYPH_FORMAT_OUTLINE && m_embolden && !(face->style_flags & FT_STYLE_FLAG_BOLD))
            FT_Outline_Embolden(&slot->outline, std::max(64, m_ppem * 64 / 24));
        if (slot->format != FT_GLYPH_FORMAT_BITMAP &&
            FT_Render_Glyph(slot, m_mono ? FT_RENDER_MODE_MONO : FT_RENDER_MODE_NORMAL) != 0)
            return g;
        g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
        if (m_embolden && !(face->style_flags & FT_STYLE_FLAG_BOLD)) g.advance += 1;
        CopyBitmap(slot, g);
        return g;
    }

    void CopyBitmap(FT_GlyphSlot slot, Glyph& g) const {
        const FT_Bitmap& bm = slot->bitmap;
        if (bm.pixel_mode != FT_PIXEL_MODE_MONO && bm.pixel_mode != FT_PIXEL_MODE_GRAY) return;
        g.width = static_cast<int>(bm.width);
        g.height = static_cast<int>(bm.rows);
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.coverage.assign(static_cast<std::size_t>(g.width) * g.height, 0);
        for (int y = 0; y < g.height; ++y) {
            const unsigned char* row = bm.buffer + static_cast<std::ptrdiff_t>(y) * bm.pitch;
            std::uint8_t* out = g.coverage.data() + static_cast<std::size_t>(y) * g.width;
            for (int x = 0; x < g.width; ++x) {
                std::uint8_t v;
                if (bm.pixel_mode == FT_PIXEL_MODE_MONO)
                    v = (row[x >> 3] & (0x80 >> (x & 7))) ? 255 : 0;
                else
                    v = m_mono ? (row[x] >= 128 ? 255 : 0) : row[x];
                out[x] = v;
            }
        }
    }

    std::vector<FT_Face> m_faces;
    int m_ppem;
    bool m_mono;
    bool m_embolden;
    std::unordered_map<char32_t, Glyph> m_glyphs;
    std::array<const Glyph*, 128> m_ascii;
};

struct VerticalMetrics {
    double ascent;   // font units
    double descent;  // font units, positive below the baseline
    double unitsPerEm;
};

VerticalMetrics MetricsOf(FT_Face face) {
    VerticalMetrics m{static_cast<double>(face->ascender), -static_cast<double>(face->descender),
                      static_cast<double>(face->units_per_EM)};
    auto* os2 = static_cast<TT_OS2*>(FT_Get_Sfnt_Table(face, FT_SFNT_OS2));
    if (os2 && os2->usWinAscent + os2->usWinDescent > 0) {
        m.ascent = os2->usWinAscent;
        m.descent = os2->usWinDescent;
    }
    if (m.unitsPerEm <= 0 || m.ascent + m.descent <= 0) m = {800, 200, 1000};
    return m;
}

}  // namespace

std::unique_lock<std::mutex> LockEngine() { return std::unique_lock<std::mutex>(TheEngine().mu); }

std::shared_ptr<FontInstance> CreateFontInstance(const LOGFONT& lf) {
    Engine& e = TheEngine();
    std::lock_guard<std::mutex> lock(e.mu);
    std::string family(lf.lfFaceName, strnlen(lf.lfFaceName, sizeof lf.lfFaceName));
    if (family.empty()) family = "굴림";
    int height = lf.lfHeight == 0 ? 12 : std::clamp<int>(lf.lfHeight, -1000, 1000);
    bool italic = lf.lfItalic != 0;
    bool embolden = lf.lfWeight >= 600;
    std::string key = family + '\x1f' + std::to_string(height) + '\x1f' + std::to_string(lf.lfWeight) +
                      (italic ? "i" : "r") + std::to_string(lf.lfQuality);
    auto found = e.instances.find(key);
    if (found != e.instances.end()) return found->second;

    std::vector<FT_Face> faces;
    for (const FaceRef& ref : e.Resolve(family, lf.lfWeight, italic))
        if (FT_Face f = e.Face(ref); f && std::find(faces.begin(), faces.end(), f) == faces.end()) faces.push_back(f);
    if (faces.empty()) return nullptr;

    VerticalMetrics vm = MetricsOf(faces.front());
    int ppem, ascent, descent;
    if (height > 0) {  // cell height: ascent plus descent is the height asked for
        ppem = static_cast<int>(std::lround(height * vm.unitsPerEm / (vm.ascent + vm.descent)));
        ascent = static_cast<int>(std::lround(height * vm.ascent / (vm.ascent + vm.descent)));
        descent = height - ascent;
    } else {  // character height: the em is the height asked for
        ppem = -height;
        ascent = static_cast<int>(std::ceil(vm.ascent * ppem / vm.unitsPerEm));
        descent = static_cast<int>(std::ceil(vm.descent * ppem / vm.unitsPerEm));
    }
    ppem = std::max(ppem, 1);
    bool mono = lf.lfQuality == NONANTIALIASED_QUALITY ||
                (lf.lfQuality != ANTIALIASED_QUALITY && ppem <= kCrispMaxPixels);
    auto inst = std::make_shared<Instance>(std::move(faces), ppem, mono, embolden, ascent, descent);
    if (e.instances.size() < kMaxInstances) e.instances.emplace(key, inst);
    return inst;
}

std::string ResolveFamilyFile(const char* faceName) {
    Engine& e = TheEngine();
    std::lock_guard<std::mutex> lock(e.mu);
    auto chain = e.Resolve(faceName ? faceName : "", FW_NORMAL, false);
    return chain.empty() ? std::string() : chain.front().file;
}

void DecodeUtf8(const char* s, int n, std::vector<char32_t>& out) {
    out.clear();
    const auto* p = reinterpret_cast<const unsigned char*>(s);
    int i = 0;
    while (i < n) {
        unsigned char b = p[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int len = b >= 0xF0 && b < 0xF5 ? 4 : b >= 0xE0 ? 3 : b >= 0xC2 && b < 0xE0 ? 2 : 0;
        if (b >= 0xF5) len = 0;
        char32_t c = len == 4 ? (b & 0x07) : len == 3 ? (b & 0x0F) : (b & 0x1F);
        bool ok = len > 0 && i + len <= n;
        for (int k = 1; ok && k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) ok = false;
            else c = (c << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not characters.
        if (ok && ((len == 3 && c < 0x800) || (len == 4 && (c < 0x10000 || c > 0x10FFFF)) ||
                   (c >= 0xD800 && c <= 0xDFFF)))
            ok = false;
        if (!ok) {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        out.push_back(c);
        i += len;
    }
}

}  // namespace handpix::text
