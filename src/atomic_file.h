#pragma once

#include <cstddef>
#include <string>

namespace Lumetra {

// Replaces `target` with `size` bytes so that a reader or a power cut sees either the old
// file or the whole new one: written beside it under a temporary name, fsync'd, renamed
// over it, and the directory fsync'd. On failure the target is untouched, the temporary
// file removed, and *error says why (strerror's words).
bool replaceFileAtomically(const std::string& target, const void* data, size_t size,
                           std::string* error);

}  // namespace Lumetra
