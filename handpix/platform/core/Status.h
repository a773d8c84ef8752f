// The one status type of the library's parsers. Public operations turn it
// into their documented result codes and messages in one place each.
#pragma once

namespace handpix {

enum class Status {
    ok,
    truncated,    // input ended before the structure did
    invalid,      // input contradicts its format
    unsupported,  // valid input that this library does not decode
    internal,     // a bug: fuzz targets abort on it
};

constexpr bool Ok(Status s) { return s == Status::ok; }
const char* StatusName(Status s);

}  // namespace handpix
