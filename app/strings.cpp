#include "app/strings.h"

#include "app/dialog/string_table.h"

namespace zel {

std::string LoadStringText(int id) { return LoadStringW(kLangEnglish, id); }

}  // namespace zel
