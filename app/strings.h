// The English text of a string-table entry, for the faces that show English
// only (the command line, start-up messages). The table: app/dialog/string_table.h.
#pragma once

#include <string>

namespace zel {

// The text of string `id` (empty for an unknown identifier).
std::string LoadStringText(int id);

}  // namespace zel
