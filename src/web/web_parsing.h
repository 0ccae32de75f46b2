#pragma once

// What the web server reads from requests, as plain functions: every byte here comes from
// the network, so each function takes any input and answers within bounds.

#include <string>
#include <utility>
#include <vector>

namespace Lumetra {

using FormFields = std::vector<std::pair<std::string, std::string>>;

// "a=1&b=x+y%21" into its fields, decoded ('+' is a space). False on a bad escape, a field
// without '=', more than `max_fields` fields, or a NUL byte anywhere.
bool parseForm(const std::string& text, FormFields* fields, size_t max_fields = 64);

// The value of `key` in `fields`, or null.
const std::string* formValue(const FormFields& fields, const std::string& key);

// "0" to "255" without sign, spaces or leading zeros beyond "0" itself: the slot; else -1.
int parseSlotNumber(const std::string& text);

// An uploaded picture's name as the client gives it ("sunset.png"): letters, digits, '-',
// '_' and single '.', at most 64 bytes, not starting with '.', ending in an extension the
// picture slots know. Gives the part before the last '.' and the extension in lower case.
bool parseUploadName(const std::string& name, std::string* stem, std::string* extension);

// The routes below /api/slots: "/api/slots" (slot -1), "/api/slots/N" and
// "/api/slots/N/thumbnail". False for anything else.
bool parseSlotRoute(const std::string& url, int* slot, bool* thumbnail);

// Standard base64 with padding; false on anything else.
bool decodeBase64(const std::string& text, std::string* out);

// True when `header` (an Authorization header's value) is HTTP Basic for `user` and
// `password`. The comparison of the credentials takes the same time wherever they differ.
bool basicAuthMatches(const char* header, const std::string& user, const std::string& password);

// Equal strings, in a time that depends on the lengths only.
bool constantTimeEquals(const std::string& a, const std::string& b);

// `text` as a JSON string literal, quotes included; bytes outside ASCII become U+FFFD.
std::string jsonString(const std::string& text);

}  // namespace Lumetra
