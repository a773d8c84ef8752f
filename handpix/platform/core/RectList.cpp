#include "handpix/platform/core/RectList.h"

namespace handpix {

void SubtractRect(const CRect& a, const CRect& b, std::vector<CRect>& out) {
    if (a.IsRectEmpty()) return;
    CRect i;
    if (!i.IntersectRect(a, b)) {
        out.push_back(a);
        return;
    }
    if (a.top < i.top) out.emplace_back(a.left, a.top, a.right, i.top);
    if (i.bottom < a.bottom) out.emplace_back(a.left, i.bottom, a.right, a.bottom);
    if (a.left < i.left) out.emplace_back(a.left, i.top, i.left, i.bottom);
    if (i.right < a.right) out.emplace_back(i.right, i.top, a.right, i.bottom);
}

void AddDisjoint(std::vector<CRect>& region, const CRect& r) {
    std::vector<CRect> pieces{r}, next;
    for (const CRect& have : region) {
        next.clear();
        for (const CRect& p : pieces) SubtractRect(p, have, next);
        pieces.swap(next);
        if (pieces.empty()) return;
    }
    region.insert(region.end(), pieces.begin(), pieces.end());
}

}  // namespace handpix
