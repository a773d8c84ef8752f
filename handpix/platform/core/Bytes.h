// A byte string, as the file and stream writers build them, and the result of
// a writer that checks its limits: the bytes, or why there are none.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace handpix {

using Bytes = std::vector<std::uint8_t>;

struct EncodeResult {
    Bytes bytes;
    std::string error;  // empty on success
    explicit operator bool() const { return error.empty(); }
    static EncodeResult Fail(std::string why) { return {{}, std::move(why)}; }
};

}  // namespace handpix
