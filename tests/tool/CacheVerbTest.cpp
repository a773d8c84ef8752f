// The cache verb over caches that grid builds, and the progress line of the
// long verbs: drawn on a terminal, absent from a pipe.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/ChildProcess.h"
#include "tests/support/PhotoCacheFiles.h"

namespace {
namespace fs = std::filesystem;
using handpix::test::RunProgram;
using handpix::test::TempTree;

// Runs the tool on a pseudo-terminal; what it wrote there, with the line
// ends the terminal gives ("\r\n").
std::string RunOnTerminal(std::vector<std::string> argv) {
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    if (pid < 0) return "forkpty failed";
    if (pid == 0) {
        std::vector<char*> args;
        for (std::string& a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    std::string out;
    char buf[4096];
    pollfd p{master, POLLIN, 0};
    // Ends with EIO once the child has gone and its output is read.
    while (::poll(&p, 1, 120000) > 0) {
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(master);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return out;
}

class CacheVerb : public ::testing::Test {
protected:
    void SetUp() override {
        for (const std::string& dir : {a, b}) {
            fs::create_directory(dir);
            for (int i = 0; i < 3; ++i)
                handpix::test::WriteJpeg(dir + "/p" + std::to_string(i) + ".jpg", 40 + 8 * i, 30, static_cast<unsigned>(i + 1));
        }
    }
    std::vector<std::string> Tool(std::vector<std::string> args) const {
        args.insert(args.begin(), HANDPIX_TOOL);
        return args;
    }
    std::string Run(std::vector<std::string> args, int exitCode = 0) const {
        const handpix::test::ChildResult r = RunProgram(Tool(std::move(args)), {.seconds = 120});
        EXPECT_TRUE(r.exited && r.exitCode == exitCode) << r.output;
        return r.output;
    }

    TempTree tree;
    std::string a = tree / "a", b = tree / "b", cache = tree / "cache", out = tree / "out";
};

TEST_F(CacheVerb, ProgressOnlyOnATerminal) {
    fs::create_directory(out);
    const std::vector<std::vector<std::string>> runs = {
        {"thumb", "--out-dir", out, a + "/p0.jpg", a + "/p1.jpg", a + "/p2.jpg"},
        {"grid", a, "-o", out + "/grid.png", "--cache", cache},
    };
    for (const auto& args : runs) {
        SCOPED_TRACE(args[0]);
        const std::string piped = Run(args);
        EXPECT_EQ(piped.find_first_of("\r\x1b"), std::string::npos) << piped;
        const std::string shown = RunOnTerminal(Tool(args));
        // The last drawing: all counted, a rate, no time left; then the line ends.
        EXPECT_TRUE(std::regex_search(shown, std::regex(R"(\r\[#{24}\] 3/3 pictures, [0-9.]+/s, 0:00 left.*\r\n)")))
            << shown;
    }
}

TEST_F(CacheVerb, ListAndPruneReportWhatTheCacheHolds) {
    for (const std::string& dir : {a, b}) Run({"grid", dir, "-o", out + ".png", "--cache", cache});
    fs::remove_all(b);

    const std::string listed = Run({"cache", "list", "--cache", cache});
    const std::string row = R"(\s+[0-9]+\s+[0-9-]+ [0-9:]+\s+)";
    EXPECT_TRUE(std::regex_search(listed, std::regex("\n +1 +3" + row + a + "\n"))) << listed;
    EXPECT_TRUE(std::regex_search(listed, std::regex("\n +2 +3" + row + b + " \\(missing\\)\n"))) << listed;
    EXPECT_NE(listed.find("2 cached folders,"), std::string::npos) << listed;

    const std::string dry = Run({"cache", "prune", "--missing", "--dry-run", "--cache", cache});
    EXPECT_TRUE(std::regex_search(dry, std::regex("^would remove 2  3 thumbnails, .*" + b + " \\(folder gone\\)\n")))
        << dry;
    EXPECT_TRUE(fs::is_directory(cache + "/2"));

    Run({"cache", "prune", "--cache", cache}, 2);
    const std::string pruned = Run({"cache", "--cache", cache, "prune", "--missing", "--older-than", "30"});
    EXPECT_TRUE(std::regex_search(pruned, std::regex("^removed 2 .*\nremoved 1 cached folder ")))
        << pruned;
    EXPECT_FALSE(fs::exists(cache + "/2"));
    EXPECT_NE(Run({"cache", "list", "--cache", cache}).find("\n1 cached folder,"), std::string::npos);
    Run({"cache", "prune", "--max-size", "0", "--cache", cache});
    EXPECT_NE(Run({"cache", "list", "--cache", cache}).find("\n0 cached folders, 0 bytes"), std::string::npos);
}

}  // namespace
