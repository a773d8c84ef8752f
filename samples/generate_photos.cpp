// The photo folder of the thumbnail-grid demo: photo-like JPEGs of mixed sizes
// and orientations under Korean and Latin names.
#include <string>
#include <vector>

#include "tests/support/PhotoLike.h"

namespace {
struct Photo {
    const char* name;
    int width, height;
};

// Sizes kept small so the repository stays light; the grid shrinks them all to 100 x 100 at most.
const Photo kPhotos[] = {
    {"서울의 봄.jpg", 640, 480},     {"바다 풍경.jpg", 800, 450},   {"가족사진.jpg", 480, 640},
    {"제주도 여행.jpg", 720, 480},   {"눈 오는 날.jpg", 600, 600},  {"한강 야경.jpg", 960, 540},
    {"강아지.jpg", 400, 533},        {"꽃.jpg", 512, 384},          {"산책길.jpg", 640, 360},
    {"생일 파티.jpg", 800, 600},     {"IMG_0001.JPG", 640, 480},    {"IMG_0002.JPG", 480, 640},
    {"DSC01234.JPG", 1024, 768},     {"beach-sunset.jpg", 800, 533}, {"mountain lake.jpg", 720, 540},
    {"city_night.jpg", 960, 640},    {"portrait.jpg", 360, 640},    {"garden.jpg", 600, 400},
    {"snowfield.jpg", 700, 350},     {"market.jpg", 500, 500},      {"Hanok village.jpg", 800, 480},
    {"a very long file name that will not fit under its thumbnail.jpg", 640, 427},
    {"tiny.jpg", 90, 60},           {"wide panorama.jpg", 1200, 300},
};

}  // namespace

bool WriteJpeg(const std::string& path, int w, int h, const std::vector<std::uint8_t>& rgb, int quality);

bool WriteSamplePhotos(const std::string& dir) {
    unsigned seed = 100;
    for (const Photo& p : kPhotos)
        if (!WriteJpeg(dir + "/" + p.name, p.width, p.height, handpix::test::PhotoLike(p.width, p.height, seed++), 80))
            return false;
    return true;
}
