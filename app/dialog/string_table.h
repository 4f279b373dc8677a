// The string table of the user-interface texts, keyed by their identifiers,
// in the program's languages; a language without an entry falls back to
// English, and an unknown identifier gives an empty text.
#pragma once

#include <cstdint>
#include <string>

namespace zel {

// The languages of the table (platform language identifiers).
inline constexpr uint16_t kLangTraditionalChinese = 1028;
inline constexpr uint16_t kLangEnglish = 1033;
inline constexpr uint16_t kLangJapanese = 1041;
inline constexpr uint16_t kLangKorean = 1042;
inline constexpr uint16_t kLangRussian = 1049;
inline constexpr uint16_t kLangSimplifiedChinese = 2052;

// The text of string `id` in language `languageId`.
std::string LoadStringW(uint16_t languageId, int id);
// Whether the table has string `id`.
bool HasString(int id);

}  // namespace zel
