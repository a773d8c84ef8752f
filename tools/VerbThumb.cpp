// handpix thumb IN OUT [--fixed] | handpix thumb --out-dir DIR FILE...: JPEG
// thumbnails as the library's resizing makes them, aspect-keeping within
// 100 x 100, or 100 x 75 with --fixed.
#include <fmt/core.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "handpix/imagefiles/GraphicFileLoad.h"
#include "handpix/picture/Picture.h"
#include "handpix/platform/core/File.h"
#include "tools/Common.h"
#include "tools/Progress.h"
#include "tools/Verbs.h"

namespace handpix::tool {
namespace {

struct ThumbOptions {
    std::vector<std::string> files;
    std::string outDir;
    bool fixed = false;
};

// The fixed size comes from the caller's-pixels form, so that any picture the
// library reads (not only BMP and JPEG) can be made into one.
bool FixedThumb(CPicture& picture, const std::string& in, const std::string& out, std::string& why) {
    CGraphicFileLoad g;
    if (!LoadPicture(in, g, why)) return false;
    CString target(out.c_str());
    picture.ResizingImage(target, g.m_nWidth, g.m_nHeight, g.m_pDib);
    return true;
}

// False with why filled when no thumbnail came out.
bool MakeThumb(CPicture& picture, const ThumbOptions& o, const std::string& in, const std::string& out,
               std::string& why) {
    why = "cannot make a thumbnail";
    // The library reports nothing for a failed aspect-keeping resize: the
    // output file tells.
    const FileStamp before = FileStamp::Of(out);
    bool ok = true;
    if (o.fixed) {
        ok = FixedThumb(picture, in, out, why);
    } else {
        CString source(in.c_str()), target(out.c_str());
        picture.ResizingImage(source, target);
    }
    const FileStamp after = FileStamp::Of(out);
    return ok && after.exists && !(after == before);
}

int RunThumb(const ThumbOptions& o) {
    CPicture picture;
    if (o.outDir.empty()) {
        if (o.files.size() != 2) {
            fmt::print(stderr, "thumb: give IN and OUT, or --out-dir DIR and the files\n");
            return 2;
        }
        std::string why;
        if (!MakeThumb(picture, o, o.files[0], o.files[1], why)) {
            fmt::print(stderr, "{}: {}\n", o.files[0], why);
            return 1;
        }
        fmt::print("{} -> {}\n", o.files[0], o.files[1]);
        return 0;
    }
    if (!IsDirectory(o.outDir.c_str())) {
        fmt::print(stderr, "{}: not a folder\n", o.outDir);
        return 2;
    }
    int failed = 0;
    {
        ProgressBar bar("pictures");
        const long total = static_cast<long>(o.files.size());
        for (long i = 0; i < total; ++i) {
            const std::string& file = o.files[static_cast<std::size_t>(i)];
            const std::string name = std::filesystem::path(file).filename().string();
            std::string why;
            if (!MakeThumb(picture, o, file, (std::filesystem::path(o.outDir) / name).string(), why)) {
                bar.Print(fmt::format("{}: {}", file, why));
                ++failed;
            }
            bar.Update(i + 1, total);
        }
    }
    if (failed) fmt::print(stderr, "{} of {} pictures failed\n", failed, o.files.size());
    return failed ? 1 : 0;
}

void Register(CLI::App& app) {
    auto opts = std::make_shared<ThumbOptions>();
    CLI::App* cmd = app.add_subcommand("thumb", "Make JPEG thumbnails (at most 100 x 100, or 100 x 75 with --fixed)");
    cmd->add_option("files", opts->files, "IN OUT, or with --out-dir the pictures")->required();
    cmd->add_option("--out-dir", opts->outDir, "Write each thumbnail under its own name into this folder");
    cmd->add_flag("--fixed", opts->fixed, "Exactly 100 x 75 pixels, whatever the picture's shape");
    cmd->callback([opts] {
        InstallStderrMessages();
        SetExitCode(RunThumb(*opts));
    });
}

VerbRegistrar registrar(&Register);
}  // namespace
}  // namespace handpix::tool
