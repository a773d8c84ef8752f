#include "handpix/platform/core/CodePage.h"

#include <iconv.h>

#include <cerrno>
#include <mutex>
#include <vector>

namespace handpix {
namespace {
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

// Opening a converter costs far more than converting one short text, and a
// thumbnail list converts one per line: descriptors are kept for reuse, one
// pool per direction, each behind its own lock (a descriptor serves one
// thread at a time).
class ConverterPool {
public:
    ConverterPool(const char* to, const char* from) : m_to(to), m_from(from) {}
    iconv_t Take() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (!m_idle.empty()) {
                iconv_t cd = m_idle.back();
                m_idle.pop_back();
                return cd;
            }
        }
        return ::iconv_open(m_to, m_from);
    }
    void Give(iconv_t cd) {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_idle.push_back(cd);
    }

private:
    const char* m_to;
    const char* m_from;
    std::mutex m_mutex;
    std::vector<iconv_t> m_idle;
};

ConverterPool& ToCp949() {
    static ConverterPool* pool = new ConverterPool("CP949", "UTF-8");  // never destroyed: used until exit
    return *pool;
}
ConverterPool& FromCp949() {
    static ConverterPool* pool = new ConverterPool("UTF-8", "CP949");
    return *pool;
}

std::string Convert(std::string_view in, ConverterPool& pool) {
    iconv_t cd = pool.Take();
    if (cd == kNoConverter) return std::string(in);
    ::iconv(cd, nullptr, nullptr, nullptr, nullptr);  // the initial shift state
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
    pool.Give(cd);
    return out;
}
}  // namespace

std::string Utf8ToCp949(std::string_view utf8) { return Convert(utf8, ToCp949()); }
std::string Cp949ToUtf8(std::string_view cp949) { return Convert(cp949, FromCp949()); }
}  // namespace handpix
