// Text through FreeType and fontconfig. The engine (library handle, faces,
// resolved fonts, glyphs) is process-wide behind one mutex; a glyph is
// rendered once per font and size and served from the cache afterwards.
#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

struct LOGFONT;

namespace handpix::text {

struct Glyph {
    int width = 0;    // bitmap size in pixels
    int height = 0;
    int left = 0;     // bitmap origin relative to the pen on the baseline
    int top = 0;      // rows above the baseline
    int advance = 0;  // pen advance in whole pixels
    std::vector<std::uint8_t> coverage;  // width x height, 0 (none) to 255 (full)
};

// One face chain at one pixel size: the requested family first, then the
// fonts fontconfig ranks behind it, used per character when a glyph is missing.
class FontInstance {
public:
    virtual ~FontInstance() = default;
    int Ascent() const { return m_ascent; }
    int Descent() const { return m_descent; }
    int Height() const { return m_ascent + m_descent; }
    // The glyph for a code point; never null (a missing glyph is the first
    // face's .notdef). Call with the lock of LockEngine held; the pointer stays
    // valid for the life of the process.
    virtual const Glyph* GlyphFor(char32_t c) = 0;
    virtual bool HasGlyph(char32_t c) = 0;

protected:
    int m_ascent = 0;
    int m_descent = 0;
};

std::unique_lock<std::mutex> LockEngine();
// The font for a logical font; null when no font file can be opened at all.
std::shared_ptr<FontInstance> CreateFontInstance(const LOGFONT& lf);

// The family file fontconfig gives for a face name, for tests and diagnostics.
std::string ResolveFamilyFile(const char* faceName);

// Decodes UTF-8; bytes that do not form a character give U+FFFD.
void DecodeUtf8(const char* s, int n, std::vector<char32_t>& out);

}  // namespace handpix::text
