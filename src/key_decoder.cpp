#include "key_decoder.h"

namespace Lumetra {

namespace {
const unsigned char kEscape = 0x1b;
const unsigned char kQuitKey = 'q';
}  // namespace

bool KeyDecoder::feed(const char* bytes, size_t count) {
    bool quit = false;
    for (size_t i = 0; i < count; ++i) {
        quit = take(static_cast<unsigned char>(bytes[i])) || quit;
    }
    return quit;
}

void KeyDecoder::idle() {
    state = State::Text;
}

bool KeyDecoder::take(unsigned char byte) {
    switch (state) {
        case State::Escape:
            if (byte == '[') {
                state = State::ControlSequence;
                sequence_length = 0;
                return false;
            }
            if (byte == 'O') {
                state = State::SingleShift;
                return false;
            }
            if (byte == kEscape) {
                return false;  // a second escape (a meta-prefixed key) starts afresh
            }
            // Escape followed by a plain key is two keys, as a curses reader sees them.
            state = State::Text;
            break;
        case State::ControlSequence:
            if (byte == kEscape) {
                state = State::Escape;
            } else if (byte >= 0x20 && byte <= 0x3f && ++sequence_length < kMaxSequence) {
                // parameter and intermediate bytes
            } else {
                state = State::Text;  // final byte, or the sequence broke off
            }
            return false;
        case State::SingleShift:
            state = byte == kEscape ? State::Escape : State::Text;
            return false;
        case State::Text:
            break;
    }
    if (byte == kEscape) {
        state = State::Escape;
        return false;
    }
    return byte == kQuitKey;
}

}  // namespace Lumetra
