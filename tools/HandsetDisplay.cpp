#include "tools/HandsetDisplay.h"

#include "handpix/platform/draw/DC.h"

namespace handpix::tool {

bool DrawHandsetDisplay(CPicture& picture, const CString& path, bool img, int frame, CBitmap& out) {
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    out.DeleteObject();
    out.CreateCompatibleBitmap(&dc, kDisplayWidth, kDisplayHeight);
    CBitmap* old = dc.SelectObject(&out);
    const CRect rect(25, 0, kDisplayWidth, kDisplayHeight);
    const bool ok = img ? picture.DisplayIMG(path, &dc, rect) == 1 : picture.DisplayEBA(path, &dc, rect, frame);
    dc.SelectObject(old);
    return ok;
}

unsigned FrameDelayTenths(const HandsetFacts& facts, int frame) {
    const unsigned d = frame >= 0 && static_cast<std::size_t>(frame) < facts.delays.size() ? facts.delays[frame] : 2;
    return d ? d : 1;
}

bool LoopsForever(const HandsetFacts& facts) { return facts.stream.empty() || facts.loop; }

}  // namespace handpix::tool
