// The bundled handset samples read whole: every frame of every animation.
#include <filesystem>

#include "tests/handsetpictures/HandsetTestSupport.h"

namespace handpix::test {
namespace {

using Samples = HandsetPictureTest;

TEST_F(Samples, EveryFrameOfEverySampleReads) {
    const std::filesystem::path dir = std::filesystem::path(HANDPIX_SOURCE_DIR) / "samples" / "handset";
    const struct { const char* name; int frames; } animations[] = {{"ball_sis1.sni", 12}, {"disc_sis2.sni", 8}, {"rainbow_saf.sni", 10}, {"wave.eba", 6}};
    for (const auto& a : animations) {
        const std::string path = (dir / a.name).string();
        ASSERT_TRUE(pic->GetEBAHeader(path)) << a.name;
        EXPECT_EQ(pic->m_AnimInfo.byFrameCount, a.frames) << a.name;
        for (int f = 0; f < a.frames; ++f) ASSERT_TRUE(pic->GetEBAData(path, f)) << a.name << " " << f;
    }
    EXPECT_TRUE(pic->GetIMG((dir / "ramp.img").string()));
    EXPECT_TRUE(TakeMessages().empty());
}

}  // namespace
}  // namespace handpix::test
