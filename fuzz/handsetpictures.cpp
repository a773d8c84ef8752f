// fuzz-link: handpix_picture
// Arbitrary file contents through CPicture's handset readers: the SNI and EBA
// header and frame reads for every frame number from -1 to 51, IMG, and one
// drawing of each into a memory DC.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <unistd.h>

#include "fuzz/FuzzFiles.h"
#include "handpix/picture/Picture.h"
#include "handpix/platform/core/MessageBox.h"

namespace {

struct Rig {
    Rig() {
        char name[] = "/tmp/handpix_fuzz_hpXXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0) std::abort();
        close(fd);
        path = name;
        handpix::SetMessageBoxHandler([](const char*, const char*, UINT) { return IDOK; });
        dc.CreateCompatibleDC(nullptr);
        bmp.CreateCompatibleBitmap(&dc, 230, 190);
        dc.SelectObject(&bmp);
    }
    ~Rig() { std::remove(path.c_str()); }
    std::string path;
    std::unique_ptr<CPicture> pic = std::make_unique<CPicture>();
    CDC dc;
    CBitmap bmp;
};

Rig* g_rig = nullptr;

}  // namespace

// fontconfig keeps a few blocks of its configuration unreachable until exit:
// not ours to free.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    g_rig = new Rig();
    // Load the caption's font now, outside any input.
    CFont font;
    font.CreatePointFont(100, "굴림", &g_rig->dc);
    CFont* old = g_rig->dc.SelectObject(&font);
    CRect box(0, 0, 150, 14);
    g_rig->dc.DrawText(CString("총 프레임수:01 현재:01"), &box, DT_SINGLELINE);
    g_rig->dc.SelectObject(old);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    handpix::fuzz::LimitPictures();
    Rig& rig = *g_rig;
    std::FILE* f = std::fopen(rig.path.c_str(), "wb");
    if (!f) std::abort();
    if (size && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    CPicture& pic = *rig.pic;
    const CString path(rig.path.c_str());
    pic.GetSNIHeader(path);
    pic.GetEBAHeader(path);
    for (int frame = -1; frame <= 51; ++frame) {
        pic.GetSNIData(path, frame);
        pic.GetEBAData(path, frame);
    }
    pic.GetIMG(path);
    pic.DisplayEBA(path, &rig.dc, CRect(25, 0, 230, 190), 0);
    pic.DisplayIMG(path, &rig.dc, CRect(25, 0, 230, 190));
    return 0;
}
