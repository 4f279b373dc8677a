// The string table of the user-interface texts, keyed by their identifiers.
// English entries; a language without an entry falls back to English.
#pragma once

#include <string>

namespace zel {

// The text of string `id` (empty for an unknown identifier).
std::string LoadStringText(int id);

}  // namespace zel
