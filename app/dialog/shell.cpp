#include "app/dialog/shell.h"

#include "app/dialog/string_table.h"

namespace zel {

std::vector<std::pair<std::string, std::string>> FileFilterEntries(const std::string& filter) {
  std::vector<std::string> parts;
  std::string part;
  for (char c : filter) {
    if (c == '|') {
      parts.push_back(part);
      part.clear();
    } else {
      part += c;
    }
  }
  if (!part.empty()) parts.push_back(part);
  std::vector<std::pair<std::string, std::string>> entries;
  for (size_t i = 0; i + 1 < parts.size(); i += 2) {
    if (parts[i].empty()) break;  // the "||" end
    entries.emplace_back(parts[i], parts[i + 1]);
  }
  return entries;
}

MessageBoxRequest StringMessage(uint16_t languageId, int stringId, int captionId, MessageButtons buttons) {
  MessageBoxRequest r;
  r.stringId = stringId;
  r.text = LoadStringW(languageId, stringId);
  r.captionId = captionId;
  if (captionId != 0) r.caption = LoadStringW(languageId, captionId);
  r.buttons = buttons;
  return r;
}

MessageBoxRequest FixedMessage(std::string text, std::string caption, MessageButtons buttons) {
  MessageBoxRequest r;
  r.text = std::move(text);
  r.caption = std::move(caption);
  r.buttons = buttons;
  return r;
}

int ShowString(Shell& shell, uint16_t languageId, int stringId, int captionId) {
  return shell.MessageBox(StringMessage(languageId, stringId, captionId));
}

bool AskYesNo(Shell& shell, uint16_t languageId, int stringId, int captionId) {
  return shell.MessageBox(StringMessage(languageId, stringId, captionId, MessageButtons::YesNo)) == IDYES;
}

bool AskYesNo(Shell& shell, std::string text, std::string caption) {
  return shell.MessageBox(FixedMessage(std::move(text), std::move(caption), MessageButtons::YesNo)) == IDYES;
}

}  // namespace zel
