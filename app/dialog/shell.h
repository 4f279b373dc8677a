// The Shell: what pages and workers ask of the user outside their own
// controls — message boxes (a string-table text or a fixed one, a caption,
// the buttons, owned by the page's window or by none), yes/no questions and
// the file-open dialog. The window toolkit implements it with its own
// boxes and dialogs; tests use ScriptedShell.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zel {

enum class MessageButtons { Ok, YesNo, OkCancel };

// What a message box answers: the button the user chose.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

struct MessageBoxRequest {
  int stringId = 0;      // the text's string-table id; 0 for a fixed text
  std::string text;      // the text shown
  int captionId = 0;     // the caption's string-table id; 0 for a fixed caption or none
  std::string caption;   // empty: the program's title
  MessageButtons buttons = MessageButtons::Ok;
  bool owned = true;     // owned by the asking window; false: no owner (a worker's box)
  bool operator==(const MessageBoxRequest&) const = default;
};

struct FileOpenRequest {
  // The filter exactly as the program states it: pairs of a description and
  // its patterns, separated by '|', ending in "||".
  std::string filter;
  std::string defaultExtension;  // empty: none
  bool hideReadOnly = true;      // the read-only box is hidden
  bool mustExist = false;        // false: a name that does not exist may be typed
  bool operator==(const FileOpenRequest&) const = default;
};

// The description and patterns of each entry of a filter ("Log File(*.log)",
// "*.log"); an unpaired last part is dropped.
std::vector<std::pair<std::string, std::string>> FileFilterEntries(const std::string& filter);

class Shell {
 public:
  virtual ~Shell() = default;
  // Shows the box and returns the button chosen (IDOK, IDCANCEL, IDYES, IDNO).
  virtual int MessageBox(const MessageBoxRequest& request) = 0;
  // The chosen path, or none when the dialog was cancelled.
  virtual std::optional<std::string> FileOpen(const FileOpenRequest& request) = 0;
};

// Requests built from the string table in `languageId`.
MessageBoxRequest StringMessage(uint16_t languageId, int stringId, int captionId = 0,
                                MessageButtons buttons = MessageButtons::Ok);
MessageBoxRequest FixedMessage(std::string text, std::string caption = std::string(),
                               MessageButtons buttons = MessageButtons::Ok);

// A box with string `stringId` and an OK button.
int ShowString(Shell& shell, uint16_t languageId, int stringId, int captionId = 0);
// A Yes/No box with string `stringId`: true when the answer is Yes.
bool AskYesNo(Shell& shell, uint16_t languageId, int stringId, int captionId = 0);
// A Yes/No box with a fixed text (formatted by the caller).
bool AskYesNo(Shell& shell, std::string text, std::string caption = std::string());

}  // namespace zel
