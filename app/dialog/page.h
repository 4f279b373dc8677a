// The base of the pages: a property page of the main window's sheet, built
// on its dialog template's model, with the Shell it asks the user through
// and the user-interface language its texts come in.
#pragma once

#include <cstdint>
#include <string>

#include "app/dialog/dialog_model.h"
#include "app/dialog/shell.h"

namespace zel {

// The font face of the pages' texts: "Gulim" for Korean, else "Ariel".
const char* PageFontFace(uint16_t languageId);

class Page {
 public:
  Page(int templateId, int titleStringId, Shell& shell, uint16_t languageId);
  virtual ~Page() = default;
  Page(const Page&) = delete;
  Page& operator=(const Page&) = delete;

  // The page's initialisation when its window is made; the dialog's return
  // value (true: the framework sets the focus).
  virtual bool OnInitDialog() { return true; }
  // The page's client area has a new size.
  virtual void OnSize(int width, int height) {
    (void)width;
    (void)height;
  }

  DialogModel& Model() { return model_; }
  const DialogModel& Model() const { return model_; }
  int TitleStringId() const { return titleStringId_; }
  std::string Title() const { return String(titleStringId_); }
  uint16_t LanguageId() const { return languageId_; }
  // The bitmap resource the page is drawn on (0: none); the window toolkit draws it.
  int BackgroundBitmap() const { return backgroundBitmap_; }

 protected:
  Shell& UserShell() { return shell_; }
  // String `id` of the table in the page's language.
  std::string String(int id) const;
  void SetBackgroundBitmap(int resourceId) { backgroundBitmap_ = resourceId; }

 private:
  DialogModel model_;
  int titleStringId_;
  Shell& shell_;
  uint16_t languageId_;
  int backgroundBitmap_ = 0;
};

}  // namespace zel
