#include "app/dialog/scripted_shell.h"

namespace zel {

namespace {

bool Fits(MessageButtons buttons, int answer) {
  switch (buttons) {
    case MessageButtons::Ok:
      return answer == IDOK;
    case MessageButtons::YesNo:
      return answer == IDYES || answer == IDNO;
    case MessageButtons::OkCancel:
      return answer == IDOK || answer == IDCANCEL;
  }
  return false;
}

}  // namespace

void ScriptedShell::AnswerBox(int button) {
  std::lock_guard<std::mutex> lock(mutex_);
  boxAnswers_.push_back(button);
}

void ScriptedShell::AnswerFile(std::optional<std::string> path) {
  std::lock_guard<std::mutex> lock(mutex_);
  fileAnswers_.push_back(std::move(path));
}

int ScriptedShell::MessageBox(const MessageBoxRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  boxes_.push_back(request);
  if (request.buttons == MessageButtons::Ok) return IDOK;
  if (!boxAnswers_.empty() && Fits(request.buttons, boxAnswers_.front())) {
    int answer = boxAnswers_.front();
    boxAnswers_.pop_front();
    return answer;
  }
  ++unanswered_;
  return request.buttons == MessageButtons::YesNo ? IDNO : IDCANCEL;
}

std::optional<std::string> ScriptedShell::FileOpen(const FileOpenRequest& request) {
  std::lock_guard<std::mutex> lock(mutex_);
  files_.push_back(request);
  if (fileAnswers_.empty()) {
    ++unanswered_;
    return std::nullopt;
  }
  std::optional<std::string> answer = std::move(fileAnswers_.front());
  fileAnswers_.pop_front();
  return answer;
}

std::vector<MessageBoxRequest> ScriptedShell::Boxes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxes_;
}

std::vector<FileOpenRequest> ScriptedShell::FileDialogs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return files_;
}

std::vector<std::string> ScriptedShell::Texts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<std::string> texts;
  for (const MessageBoxRequest& b : boxes_) texts.push_back(b.text);
  return texts;
}

int ScriptedShell::Unanswered() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return unanswered_;
}

size_t ScriptedShell::UnusedAnswers() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return boxAnswers_.size() + fileAnswers_.size();
}

}  // namespace zel
