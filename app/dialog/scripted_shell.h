// A Shell for tests: questions are answered from a queue the test fills,
// and every box and dialog is recorded. Safe to use from a worker thread,
// since workers show boxes of their own.
#pragma once

#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/dialog/shell.h"

namespace zel {

class ScriptedShell final : public Shell {
 public:
  // The answer to the next Yes/No or OK/Cancel box (IDYES, IDNO, IDOK, IDCANCEL).
  // A box with only OK needs no answer and takes none from the queue.
  void AnswerBox(int button);
  // The answer to the next file dialog: a path, or none for Cancel.
  void AnswerFile(std::optional<std::string> path);

  int MessageBox(const MessageBoxRequest& request) override;
  std::optional<std::string> FileOpen(const FileOpenRequest& request) override;

  std::vector<MessageBoxRequest> Boxes() const;
  std::vector<FileOpenRequest> FileDialogs() const;
  // The texts of the boxes shown, in order.
  std::vector<std::string> Texts() const;
  // Questions that found no fitting answer queued: they were answered on the
  // safe side (No, Cancel) and counted here, so a test sees what it forgot.
  int Unanswered() const;
  // Answers queued but never asked for.
  size_t UnusedAnswers() const;

 private:
  mutable std::mutex mutex_;
  std::deque<int> boxAnswers_;
  std::deque<std::optional<std::string>> fileAnswers_;
  std::vector<MessageBoxRequest> boxes_;
  std::vector<FileOpenRequest> files_;
  int unanswered_ = 0;
};

}  // namespace zel
