// The real-window backend under a private Xvfb, driven by xdotool with real
// X events; its pixels (grabbed with xwd) must equal the headless rendering
// of the same state by `handpix grid` and `handpix show --display`.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <png.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "handpix/platform/screen/NonClient.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/PhotoCacheFiles.h"

extern char** environ;

namespace {

using handpix::test::RunProgram;
using handpix::test::TempTree;
using namespace std::chrono_literals;

// Waits are stretched where a sanitizer runtime slows every program the test starts.
const int kSlow = handpix::test::UnderSanitizer() ? 8 : 1;

// ---- the scroll bar the screen draws (no display needed) ----

SCROLLINFO Info(int max, int page, int pos) { return SCROLLINFO{sizeof(SCROLLINFO), SIF_ALL, 0, max, static_cast<UINT>(page), pos, 0}; }

TEST(NonClient, ThumbFollowsRangePageAndPosition) {
    constexpr DWORD kBars = WS_VSCROLL | WS_HSCROLL;
    const CSize window(800, 600);  // the vertical track is 583 long
    struct Case {
        SCROLLINFO si;
        CRect thumb;
    } cases[] = {
        {Info(0, 0, 0), CRect()},                           // nothing to scroll: no thumb
        {Info(1165, 600, 0), CRect(786, 0, 797, 300)},      // a page in two: half the track
        {Info(1165, 600, 566), CRect(786, 283, 797, 583)},  // at the end
        {Info(99999, 10, 0), CRect(786, 0, 797, 20)},       // never thinner than 20
    };
    for (const Case& c : cases) {
        handpix::screen::BarGeometry g;
        ASSERT_TRUE(handpix::screen::BarOf(kBars, window, SB_VERT, c.si, g));
        EXPECT_EQ(g.track, CRect(783, 0, 800, 583));
        EXPECT_EQ(g.thumb, c.thumb) << c.si.nMax << " " << c.si.nPos;
    }
    handpix::screen::BarGeometry g;
    EXPECT_FALSE(handpix::screen::BarOf(WS_VSCROLL, window, SB_HORZ, Info(10, 1, 0), g));
}

TEST(NonClient, PressesPageOrTrackAndDragsReachBothEnds) {
    const SCROLLINFO si = Info(1165, 600, 283);
    handpix::screen::BarGeometry g;
    ASSERT_TRUE(handpix::screen::BarOf(WS_VSCROLL, CSize(800, 600), SB_VERT, si, g));
    EXPECT_EQ(handpix::screen::HitBar(g, CPoint(790, g.thumb.top - 1)), static_cast<int>(SB_PAGEUP));
    EXPECT_EQ(handpix::screen::HitBar(g, CPoint(790, g.thumb.top)), static_cast<int>(SB_THUMBTRACK));
    EXPECT_EQ(handpix::screen::HitBar(g, CPoint(790, g.thumb.bottom)), static_cast<int>(SB_PAGEDOWN));
    EXPECT_EQ(handpix::screen::HitBar(g, CPoint(700, g.thumb.top)), -1);
    EXPECT_EQ(handpix::screen::PositionForThumb(g, si, -50), 0);
    EXPECT_EQ(handpix::screen::PositionForThumb(g, si, 10000), 566);
    EXPECT_EQ(handpix::screen::PositionForThumb(g, si, g.thumb.top - g.track.top), si.nPos);
}

// ---- pictures ----

struct Picture {
    int width = 0, height = 0;
    std::vector<std::uint32_t> rgb;  // 0xRRGGBB, top row first
    std::uint32_t At(int x, int y) const { return rgb[static_cast<std::size_t>(y) * width + x]; }
};

Picture ReadPng(const std::string& path) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    Picture p;
    if (!png_image_begin_read_from_file(&image, path.c_str())) return p;
    image.format = PNG_FORMAT_RGB;
    std::vector<std::uint8_t> bytes(PNG_IMAGE_SIZE(image));
    if (!png_image_finish_read(&image, nullptr, bytes.data(), 0, nullptr)) return p;
    p.width = static_cast<int>(image.width);
    p.height = static_cast<int>(image.height);
    for (std::size_t i = 0; i + 2 < bytes.size(); i += 3) p.rgb.push_back(bytes[i] << 16 | bytes[i + 1] << 8 | bytes[i + 2]);
    return p;
}

std::uint32_t BigEndian(const std::string& b, std::size_t at) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(b[at]) << 24 | static_cast<std::uint8_t>(b[at + 1]) << 16 |
                                      static_cast<std::uint8_t>(b[at + 2]) << 8 | static_cast<std::uint8_t>(b[at + 3]));
}

// An xwd dump of a 24-bit TrueColor window (what Xvfb gives): 32-bit pixels.
Picture ParseXwd(const std::string& b) {
    Picture p;
    if (b.size() < 100 || BigEndian(b, 44) != 32) return p;
    const std::uint32_t header = BigEndian(b, 0), width = BigEndian(b, 16), height = BigEndian(b, 20);
    const bool msbFirst = BigEndian(b, 28) != 0;
    const std::uint32_t stride = BigEndian(b, 48), colours = BigEndian(b, 76);
    const std::size_t start = header + static_cast<std::size_t>(colours) * 12;
    if (b.size() < start + static_cast<std::size_t>(stride) * height) return p;
    p.width = static_cast<int>(width);
    p.height = static_cast<int>(height);
    for (std::uint32_t y = 0; y < height; ++y)
        for (std::uint32_t x = 0; x < width; ++x) {
            const std::size_t at = start + static_cast<std::size_t>(y) * stride + x * 4;
            const std::uint32_t v = msbFirst ? BigEndian(b, at)
                                             : (BigEndian(b, at) >> 24 | (BigEndian(b, at) >> 8 & 0xFF00) |
                                                (BigEndian(b, at) << 8 & 0xFF0000));
            p.rgb.push_back(v & 0xFFFFFF);
        }
    return p;
}

// Whether `want`, zoomed, is the top-left corner of `got`.
bool Shows(const Picture& got, const Picture& want, int zoom = 1) {
    if (want.width == 0 || got.width < want.width * zoom || got.height < want.height * zoom) return false;
    for (int y = 0; y < want.height * zoom; ++y)
        for (int x = 0; x < want.width * zoom; ++x)
            if (got.At(x, y) != want.At(x / zoom, y / zoom)) return false;
    return true;
}

// ---- the desktop ----

std::string OnPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    for (std::size_t at = 0; at <= dirs.size();) {
        std::size_t end = dirs.find(':', at);
        if (end == std::string::npos) end = dirs.size();
        const std::string full = dirs.substr(at, end - at) + "/" + name;
        if (access(full.c_str(), X_OK) == 0) return full;
        at = end + 1;
    }
    return "";
}

pid_t Spawn(const std::vector<std::string>& argv, const std::string& out) {
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, args[0], &files, nullptr, args.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
}

// A spawned program that is killed if the test leaves before it ends.
struct Running {
    pid_t pid = -1;
    ~Running() {
        if (pid > 0) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
};

int Finish(pid_t pid, std::chrono::milliseconds within) {
    for (auto end = std::chrono::steady_clock::now() + kSlow * within; std::chrono::steady_clock::now() < end;) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        std::this_thread::sleep_for(20ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

class ScreenDesktop : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        for (const char* tool : {"Xvfb", "xdotool", "xwd", "xwininfo"})
            if (OnPath(tool).empty()) s_missing = std::string(tool) + " is not installed";
        if (!s_missing.empty()) return;
        int fds[2];
        if (pipe(fds) != 0) return;
        const std::string fd = std::to_string(fds[1]);
        const std::string xvfb = OnPath("Xvfb");
        std::vector<std::string> argv = {xvfb, "-displayfd", fd, "-screen", "0", "1280x1024x24", "-nolisten", "tcp"};
        s_xvfb = Spawn(argv, "/dev/null");
        close(fds[1]);
        // Xvfb writes the display number it chose, then a newline, once it is ready.
        std::string number;
        for (char c = 0; s_xvfb > 0 && read(fds[0], &c, 1) == 1 && c != '\n';) number += c;
        close(fds[0]);
        if (number.empty()) {
            s_missing = "Xvfb did not start";
            return;
        }
        setenv("DISPLAY", (":" + number).c_str(), 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
    }
    static void TearDownTestSuite() {
        if (s_xvfb > 0) {
            kill(s_xvfb, SIGTERM);
            waitpid(s_xvfb, nullptr, 0);
        }
    }
    void SetUp() override {
        if (!s_missing.empty()) GTEST_SKIP() << s_missing;
        // The screen starts before the file is looked at.
        const handpix::test::ChildResult r = RunProgram({HANDPIX_TOOL, "play", "/nonexistent.sni"});
        if (r.output.find("without SDL2") != std::string::npos) GTEST_SKIP() << "built without SDL2";
    }

    static std::string Tool(const std::vector<std::string>& args) {
        std::vector<std::string> argv{OnPath(args[0])};
        argv.insert(argv.end(), args.begin() + 1, args.end());
        const handpix::test::ChildResult r = RunProgram(argv, {.seconds = 20.0 * kSlow});
        EXPECT_EQ(r.exitCode, 0) << args[0] << " " << (args.size() > 1 ? args[1] : "") << ": " << r.output;
        return r.output;
    }
    // The top-level window whose title matches, once it exists; with gone,
    // waits until none does. (xdotool's search cannot read the UTF-8 titles of
    // SDL's dialogs.)
    static std::string WaitWindow(const std::string& pattern, bool gone = false) {
        const std::regex title(pattern);
        for (auto end = std::chrono::steady_clock::now() + kSlow * 10s; std::chrono::steady_clock::now() < end;) {
            std::istringstream tree(Tool({"xwininfo", "-root", "-children"}));
            std::string found;
            for (std::string line; found.empty() && std::getline(tree, line);) {
                const std::size_t open = line.find(" \""), close = line.rfind("\":");
                if (open != std::string::npos && close > open && std::regex_search(line.substr(open + 2, close - open - 2), title))
                    found = line.substr(line.find("0x"), open - line.find("0x"));
            }
            if (found.empty() == gone) return found;
            std::this_thread::sleep_for(30ms);
        }
        ADD_FAILURE() << (gone ? "still a window called " : "no window is called ") << pattern;
        return "none";
    }
    static Picture Grab(const std::string& window, const TempTree& tmp) {
        Tool({"xwd", "-silent", "-id", window, "-out", tmp / "grab.xwd"});
        return ParseXwd(handpix::test::ReadBytes(tmp / "grab.xwd"));
    }
    // Grabs until the window shows `want` (the backend presents shortly after input).
    static bool Becomes(const std::string& window, const Picture& want, const TempTree& tmp) {
        for (auto end = std::chrono::steady_clock::now() + kSlow * 3s; std::chrono::steady_clock::now() < end;) {
            if (Shows(Grab(window, tmp), want)) return true;
            std::this_thread::sleep_for(30ms);
        }
        return false;
    }
    static Picture Grid(const std::vector<std::string>& args, const TempTree& tmp) {
        std::vector<std::string> argv{HANDPIX_TOOL, "grid"};
        argv.insert(argv.end(), args.begin(), args.end());
        argv.insert(argv.end(), {"-o", tmp / "grid.png", "--cache", tmp / "cache"});
        const handpix::test::ChildResult r = RunProgram(argv, {.seconds = 20.0 * kSlow});
        EXPECT_EQ(r.exitCode, 0) << r.output;
        return ReadPng(tmp / "grid.png");
    }

    static inline std::string s_missing;
    static inline pid_t s_xvfb = -1;
};

std::string Numbers(int from, int to) {
    std::string s;
    for (int i = from; i <= to; ++i) s += (s.empty() ? "" : ",") + std::to_string(i);
    return s;
}

// Clicks, a Ctrl-click, the wheel, a resize, the scroll bar's thumb, Home, a
// picture opened with Enter or a double click and closed with Escape, Delete
// with its dialog and Ctrl+A,
// each checked against grid's pixels; the selection is printed on exit.
TEST_F(ScreenDesktop, BrowseMatchesTheHeadlessListStepByStep) {
    TempTree tmp;
    const std::string dir = tmp / "pictures";
    ASSERT_EQ(RunProgram({"/bin/mkdir", dir}).exitCode, 0);
    for (int i = 1; i <= 30; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "/p%02d.jpg", i);
        handpix::test::WriteJpeg(dir + name, 120 + i * 4, 90 + (i % 5) * 20, static_cast<unsigned>(i));
    }
    Running browse{Spawn({HANDPIX_TOOL, "browse", dir, "--cache", tmp / "cache"}, tmp / "selection.txt")};
    ASSERT_GT(browse.pid, 0);
    const std::string w = WaitWindow("pictures.* 30 / 30$");
    Tool({"xdotool", "windowfocus", "--sync", w});

    // Tile 2 is at (145, 25), tile 5 at (505, 25), each 100 x 135.
    Tool({"xdotool", "mousemove", "--window", w, "195", "90", "click", "1"});
    Tool({"xdotool", "keydown", "ctrl", "mousemove", "--window", w, "555", "90", "click", "1", "keyup", "ctrl"});
    Tool({"xdotool", "mousemove", "--window", w, "400", "300", "click", "5"});
    EXPECT_TRUE(Becomes(w, Grid({dir, "--select", "2,5", "--scroll", "120"}, tmp), tmp)) << "click, Ctrl-click, wheel";

    Tool({"xdotool", "windowsize", "--sync", w, "640", "480"});
    EXPECT_TRUE(Becomes(w, Grid({dir, "--size", "640x480", "--select", "2,5", "--scroll", "120"}, tmp), tmp)) << "resize";

    // The thumb of the vertical bar (x 623 to 640) dragged past the bottom, then Home.
    Tool({"xdotool", "mousemove", "--window", w, "631", "100", "mousedown", "1", "mousemove", "--window", w, "631", "470",
          "mousemove", "--window", w, "631", "479", "mouseup", "1"});
    EXPECT_TRUE(Becomes(w, Grid({dir, "--size", "640x480", "--select", "2,5", "--scroll", "475"}, tmp), tmp)) << "drag";
    Tool({"xdotool", "key", "Home"});
    EXPECT_TRUE(Becomes(w, Grid({dir, "--size", "640x480", "--select", "2,5"}, tmp), tmp)) << "Home";

    // Enter, then a double click on the selected tile 5, opens a picture in a
    // second window and Escape closes it; the list has the keys again afterwards.
    for (const std::vector<std::string>& open :
         {std::vector<std::string>{"key", "Return"}, {"mousemove", "--window", w, "555", "90", "click", "--repeat", "2", "1"}}) {
        std::vector<std::string> argv{"xdotool"};
        argv.insert(argv.end(), open.begin(), open.end());
        Tool(argv);
        const std::string viewer = WaitWindow("\\.jpg$");
        Tool({"xdotool", "windowfocus", "--sync", viewer, "key", "Escape"});
        WaitWindow("\\.jpg$", true);
        Tool({"xdotool", "windowfocus", "--sync", w});
    }

    Tool({"xdotool", "key", "Delete"});
    const std::string dialog = WaitWindow("^Delete pictures$");
    Tool({"xdotool", "windowfocus", "--sync", dialog, "key", "Return"});
    Tool({"xdotool", "windowfocus", "--sync", w});
    EXPECT_TRUE(Becomes(w, Grid({dir, "--size", "640x480"}, tmp), tmp)) << "delete";
    std::set<std::string> left;
    for (const auto& e : std::filesystem::directory_iterator(dir)) left.insert(e.path().string());
    EXPECT_EQ(left.size(), 28u);

    Tool({"xdotool", "key", "ctrl+a"});
    EXPECT_TRUE(Becomes(w, Grid({dir, "--size", "640x480", "--select", Numbers(1, 28)}, tmp), tmp))
        << "Ctrl+A";

    kill(browse.pid, SIGTERM);  // SDL turns it into a quit, as closing the window does
    ASSERT_EQ(Finish(std::exchange(browse.pid, -1), 5s), 0);
    // Every picture left, each once, in the list's order.
    std::istringstream printed(handpix::test::ReadBytes(tmp / "selection.txt"));
    std::set<std::string> selected;
    int lines = 0;
    for (std::string line; std::getline(printed, line); ++lines) selected.insert(line);
    EXPECT_EQ(lines, 28);
    EXPECT_EQ(selected, left);
}

// Two different frames of a playing SNI, each exactly as show --display draws it, zoomed.
TEST_F(ScreenDesktop, PlayShowsTheDisplayFramesInTurn) {
    TempTree tmp;
    const std::string sni = std::string(HANDPIX_SOURCE_DIR) + "/samples/handset/ball_sis1.sni";
    std::vector<Picture> frames;
    for (int f = 0; f < 50; ++f) {
        const std::string png = tmp / ("frame" + std::to_string(f) + ".png");
        if (RunProgram({HANDPIX_TOOL, "show", sni, "--display", "--frame", std::to_string(f), "-o", png}).exitCode != 0) break;
        frames.push_back(ReadPng(png));
    }
    ASSERT_GE(frames.size(), 2u);
    Running play{Spawn({HANDPIX_TOOL, "play", sni, "--zoom", "2"}, "/dev/null")};
    ASSERT_GT(play.pid, 0);
    const std::string w = WaitWindow("^ball_sis1.sni$");
    std::set<std::size_t> seen;
    for (auto end = std::chrono::steady_clock::now() + kSlow * 5s; seen.size() < 2 && std::chrono::steady_clock::now() < end;) {
        const Picture got = Grab(w, tmp);
        for (std::size_t f = 0; f < frames.size(); ++f)
            if (Shows(got, frames[f], 2)) seen.insert(f);
    }
    EXPECT_GE(seen.size(), 2u) << "frames seen: " << seen.size();
    kill(play.pid, SIGTERM);
    EXPECT_EQ(Finish(std::exchange(play.pid, -1), 5s), 0);
}

}  // namespace
