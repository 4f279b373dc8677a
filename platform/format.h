// The one formatting helper of the system: printf formats, checked by the
// compiler, producing UTF-8 text. "%s" takes a `const char*` of UTF-8 text.
#pragma once

#include <cstdarg>
#include <string>

namespace zel {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args);

}  // namespace zel
