// Any bytes handed to CPicture's stream load give 0 or a picture; a picture
// then measures and draws into a thumbnail square without trouble.
// fuzz-link: handpix_picture
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fuzz/FuzzFiles.h"
#include "handpix/picture/Picture.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // Every picture is converted and resampled three times over: a smaller
    // limit keeps each input to milliseconds.
    handpix::fuzz::LimitPictures(1 << 18);
    static CPicture* picture = new CPicture();  // one object, as a list's working picture is reused
    IStream* stream = SHCreateMemStream(data, static_cast<UINT>(size));
    if (!stream) return 0;
    int loaded = picture->Load(stream);
    stream->Release();
    if (!loaded) {
        if (static_cast<IPicture*>(*picture)) __builtin_trap();  // a failed load must hold no picture
        return 0;
    }
    picture->CalcPictureSize();
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    CBitmap bmp;
    bmp.CreateCompatibleBitmap(&dc, 100, 135);
    CBitmap* old = dc.SelectObject(&bmp);
    picture->Draw(&dc, CRect(1, 1, 99, 99));
    picture->DrawIcon(&dc, CRect(0, 0, 120, 40));
    picture->Render(&dc, CRect(3, 5, 60, 90), nullptr);
    dc.SelectObject(old);
    picture->Free();
    return 0;
}
