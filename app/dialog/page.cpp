#include "app/dialog/page.h"

#include "app/dialog/string_table.h"

namespace zel {

const char* PageFontFace(uint16_t languageId) { return languageId == kLangKorean ? "Gulim" : "Ariel"; }

Page::Page(int templateId, int titleStringId, Shell& shell, uint16_t languageId)
    : model_(templateId), titleStringId_(titleStringId), shell_(shell), languageId_(languageId) {}

std::string Page::String(int id) const { return LoadStringW(languageId_, id); }

}  // namespace zel
