#pragma once

#include <cstddef>

namespace Lumetra {

// Splits what a terminal sends into keys and tells whether the quit key `q` was among them.
// Escape sequences (cursor, function and keypad keys) are skipped whole, so a key whose
// sequence happens to contain the byte 'q' (keypad keys in application mode send "ESC O q")
// is not taken for it.
class KeyDecoder {
  public:
    // Bytes as read from the terminal, in order; true when they held the quit key.
    bool feed(const char* bytes, size_t count);
    // Nothing arrived for a while: an escape still waiting for the rest of a sequence was
    // the Escape key itself.
    void idle();

  private:
    enum class State { Text, Escape, ControlSequence, SingleShift };
    // Longer "sequences" are junk (or a paste), not keys; they end here.
    static const int kMaxSequence = 32;

    bool take(unsigned char byte);

    State state = State::Text;
    int sequence_length = 0;
};

}  // namespace Lumetra
