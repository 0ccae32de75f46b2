#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Lumetra {

// Sets keys of a config.txt-style file without losing what a person wrote there: every line
// that sets one of the keys gets the new value (its trailing comment stays), keys that have
// no line yet are appended, comments and unknown lines are kept as they are. The file is
// replaced atomically (a temporary file beside it, fsync, rename), so a power cut leaves
// either the old file or the new one, never half of one. Keys are the names before "="
// (e.g. "UNIVERSE"); values must be printable ASCII without '#'.
// Returns false and says why in *error when nothing was written.
bool writeConfigValues(const std::string& path,
                       const std::vector<std::pair<std::string, std::string>>& values,
                       std::string* error);

// The text writeConfigValues would write, given the file's current text (empty when the
// file does not exist). A plain function, so that tests and fuzzers reach it without files.
std::string updatedConfigText(const std::string& text,
                              const std::vector<std::pair<std::string, std::string>>& values);

}  // namespace Lumetra
