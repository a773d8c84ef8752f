// handpix detect [--apply [--kind 7|9]] FILE...: names each file's format from
// its first 20 bytes; with --apply, gives extensionless files their extension.
#include <fcntl.h>
#include <stdio.h>

#include <fmt/core.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "handpix/handpix.h"
#include "handpix/picture/Picture.h"
#include "handpix/platform/core/File.h"
#include "tools/Verbs.h"

namespace handpix::tool {
namespace {

struct DetectArgs {
    std::vector<std::string> files;
    bool apply = false;
    int kind = 0;
};

// The first 20 bytes, zero-padded when the file is shorter.
bool ReadHeader(const std::string& path, BYTE (&header)[20]) {
    std::memset(header, 0, sizeof header);
    FILE* f = OpenRegularFileStream(path.c_str());
    if (!f) return false;
    std::size_t n = std::fread(header, 1, sizeof header, f);
    bool ok = !std::ferror(f);
    std::fclose(f);
    (void)n;
    return ok;
}

// Renames without ever replacing an existing file, even one that appears
// between our check and the rename.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // The file system cannot refuse on its own: a hard link can, then drop the old name.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

void Run(const DetectArgs& a) {
    int status = 0;
    for (const std::string& path : a.files) {
        BYTE header[20];
        if (!ReadHeader(path, header)) {
            fmt::print(stderr, "{}: cannot read: {}\n", path, std::strerror(errno));
            status = 1;
            continue;
        }
        if (!a.apply) {
            fmt::print("{}\t{}\n", path, CPicture::GetExtension(header).c_str());
            continue;
        }
        CString name(path);
        CPicture::ApplyExtension(name, header, a.kind);
        if (name == CString(path)) continue;
        if (int err = RenameNoReplace(path, name.str())) {
            if (err == EEXIST) fmt::print(stderr, "{}: {} exists already; skipped\n", path, name.c_str());
            else fmt::print(stderr, "{}: cannot rename to {}: {}\n", path, name.c_str(), std::strerror(err));
            status = 1;
            continue;
        }
        fmt::print("{} -> {}\n", path, name.c_str());
    }
    SetExitCode(status);
}

void Register(CLI::App& app) {
    auto args = std::make_shared<DetectArgs>();
    CLI::App* d = app.add_subcommand("detect", "name files' formats from their first bytes");
    d->add_option("files", args->files, "files to look at")->required();
    CLI::Option* apply = d->add_flag("--apply", args->apply, "append the extension to files that have none");
    d->add_option("--kind", args->kind, "7: IMG family as .img; 9: as .pht, and .jpg for the unknown")
        ->check(CLI::IsMember({7, 9}))
        ->needs(apply);
    d->callback([args] { Run(*args); });
}

const VerbRegistrar registrar(Register);
}  // namespace
}  // namespace handpix::tool
