// Terminal input of any kind: the key decoder must take every byte without fault, and a
// plain 'q' after a pause is always heard.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "key_decoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Lumetra::KeyDecoder keys;
    // The first byte splits the input into two reads with a pause between them.
    size_t split = size > 0 ? data[0] % (size + 1) : 0;
    keys.feed(reinterpret_cast<const char*>(data), split);
    keys.idle();
    keys.feed(reinterpret_cast<const char*>(data) + split, size - split);
    keys.idle();
    if (!keys.feed("q", 1)) {
        std::abort();
    }
    return 0;
}
