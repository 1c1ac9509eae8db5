// Lenient UTF-8 decoding: keeps every well-formed sequence and replaces each maximal
// ill-formed subpart with U+FFFD, the practice the Unicode Standard recommends. Used to
// show texts that hold lone surrogates (encoded with "surrogatepass") in messages.
#pragma once

#include <string>
#include <string_view>

namespace kestrava::module {

// Returns `bytes` as well-formed UTF-8. Pure; allocates only the result.
std::string decode_utf8_lenient(std::string_view bytes);

}  // namespace kestrava::module
