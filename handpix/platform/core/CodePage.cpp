#include "handpix/platform/core/CodePage.h"

#include <iconv.h>

#include <cerrno>

namespace handpix {
namespace {
std::string Convert(std::string_view in, const char* to, const char* from) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    std::string out;
    out.reserve(in.size() * 2);
    char* src = const_cast<char*>(in.data());
    size_t srcLeft = in.size();
    char buf[1024];
    while (srcLeft > 0) {
        char* dst = buf;
        size_t dstLeft = sizeof buf;
        size_t r = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft);
        out.append(buf, static_cast<size_t>(dst - buf));
        if (r == static_cast<size_t>(-1)) {
            if (errno == E2BIG) continue;
            // EILSEQ or EINVAL: skip one input byte and mark it.
            out.push_back('?');
            ++src;
            --srcLeft;
        }
    }
    char* dst = buf;
    size_t dstLeft = sizeof buf;
    ::iconv(cd, nullptr, nullptr, &dst, &dstLeft);
    out.append(buf, static_cast<size_t>(dst - buf));
    ::iconv_close(cd);
    return out;
}
}  // namespace

std::string Utf8ToCp949(std::string_view utf8) { return Convert(utf8, "CP949", "UTF-8"); }
std::string Cp949ToUtf8(std::string_view cp949) { return Convert(cp949, "UTF-8", "CP949"); }
}  // namespace handpix
