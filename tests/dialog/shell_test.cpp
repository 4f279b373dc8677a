// The Shell's requests as pages build them from the string table, the
// file-open filters, and the scripted Shell that answers them in tests.
#include <gtest/gtest.h>

#include <thread>

#include "app/dialog/scripted_shell.h"
#include "app/dialog/shell.h"
#include "app/dialog/string_table.h"

namespace zel {
namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

TEST(FileFilter, PairsOfDescriptionAndPatterns) {
  struct Case {
    const char* filter;
    Entries entries;
  } cases[] = {
      {"Log File(*.log)|*.log|All Files(*.*)|*.*||",
       {{"Log File(*.log)", "*.log"}, {"All Files(*.*)", "*.*"}}},
      {"fw File(*.vic)|*.vic|All Files(*.*)|*.*||", {{"fw File(*.vic)", "*.vic"}, {"All Files(*.*)", "*.*"}}},
      {"Images|*.bmp;*.png||", {{"Images", "*.bmp;*.png"}}},
      {"Log File(*.log)|*.log|Dangling", {{"Log File(*.log)", "*.log"}}},
      {"", {}},
      {"||", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(FileFilterEntries(c.filter), c.entries) << c.filter;
}

TEST(MessageRequests, TextsAndCaptionsComeFromTheTable) {
  MessageBoxRequest question = StringMessage(kLangEnglish, 312, 313, MessageButtons::YesNo);
  EXPECT_EQ(question.stringId, 312);
  EXPECT_EQ(question.text, "The operation will erase all data. Are you sure to do it?");
  EXPECT_EQ(question.captionId, 313);
  EXPECT_EQ(question.caption, "Warning");
  EXPECT_EQ(question.buttons, MessageButtons::YesNo);
  EXPECT_TRUE(question.owned);

  MessageBoxRequest plain = StringMessage(kLangKorean, 316);
  EXPECT_EQ(plain.text, "Export log file done.");
  EXPECT_EQ(plain.captionId, 0);
  EXPECT_EQ(plain.caption, "");
  EXPECT_EQ(plain.buttons, MessageButtons::Ok);

  MessageBoxRequest fixed = FixedMessage("Error Loading Bitmap!!");
  EXPECT_EQ(fixed.stringId, 0);
  EXPECT_EQ(fixed.text, "Error Loading Bitmap!!");
}

TEST(ScriptedShell, QuestionsTakeTheQueuedAnswersAndOkBoxesTakeNone) {
  ScriptedShell shell;
  shell.AnswerBox(IDYES);
  shell.AnswerBox(IDNO);
  EXPECT_EQ(ShowString(shell, kLangEnglish, 316), IDOK);  // takes no answer
  EXPECT_TRUE(AskYesNo(shell, kLangEnglish, 312, 313));
  EXPECT_FALSE(AskYesNo(shell, "Are you sure to upgrade firmware from A to B?"));
  EXPECT_EQ(shell.Unanswered(), 0);
  EXPECT_EQ(shell.UnusedAnswers(), 0u);

  std::vector<std::string> texts = {"Export log file done.",
                                    "The operation will erase all data. Are you sure to do it?",
                                    "Are you sure to upgrade firmware from A to B?"};
  EXPECT_EQ(shell.Texts(), texts);
  std::vector<MessageBoxRequest> boxes = shell.Boxes();
  ASSERT_EQ(boxes.size(), 3u);
  EXPECT_EQ(boxes[1].caption, "Warning");
  EXPECT_EQ(boxes[2].buttons, MessageButtons::YesNo);
}

TEST(ScriptedShell, AQuestionWithoutAFittingAnswerGetsTheSafeOneAndIsCounted) {
  struct Case {
    MessageButtons buttons;
    std::vector<int> queued;
    int answer;
    int unanswered;
    size_t unused;
  } cases[] = {
      {MessageButtons::YesNo, {}, IDNO, 1, 0},
      {MessageButtons::OkCancel, {}, IDCANCEL, 1, 0},
      {MessageButtons::YesNo, {IDOK}, IDNO, 1, 1},      // an answer of another box stays queued
      {MessageButtons::OkCancel, {IDYES}, IDCANCEL, 1, 1},
      {MessageButtons::OkCancel, {IDOK}, IDOK, 0, 0},
      {MessageButtons::Ok, {IDNO}, IDOK, 0, 1},
  };
  for (const Case& c : cases) {
    ScriptedShell shell;
    for (int a : c.queued) shell.AnswerBox(a);
    EXPECT_EQ(shell.MessageBox(FixedMessage("?", "", c.buttons)), c.answer);
    EXPECT_EQ(shell.Unanswered(), c.unanswered);
    EXPECT_EQ(shell.UnusedAnswers(), c.unused);
  }
}

TEST(ScriptedShell, FileDialogsAnswerAPathOrCancel) {
  ScriptedShell shell;
  shell.AnswerFile("/tmp/report.log");
  shell.AnswerFile(std::nullopt);
  FileOpenRequest request{"Log File(*.log)|*.log|All Files(*.*)|*.*||", "", true, false};
  EXPECT_EQ(shell.FileOpen(request), std::optional<std::string>("/tmp/report.log"));
  EXPECT_EQ(shell.FileOpen(request), std::nullopt);
  EXPECT_EQ(shell.Unanswered(), 0);
  EXPECT_EQ(shell.FileOpen(request), std::nullopt);
  EXPECT_EQ(shell.Unanswered(), 1);
  ASSERT_EQ(shell.FileDialogs().size(), 3u);
  EXPECT_EQ(shell.FileDialogs()[0], request);
}

TEST(ScriptedShell, AWorkersBoxesAreRecordedBesideThePages) {
  ScriptedShell shell;
  std::thread worker([&] {
    for (int i = 0; i < 200; ++i) {
      MessageBoxRequest r = StringMessage(kLangEnglish, 317, 318);
      r.owned = false;
      shell.MessageBox(r);
    }
  });
  for (int i = 0; i < 200; ++i) ShowString(shell, kLangEnglish, 247);
  worker.join();
  std::vector<MessageBoxRequest> boxes = shell.Boxes();
  ASSERT_EQ(boxes.size(), 400u);
  int unowned = 0;
  for (const MessageBoxRequest& b : boxes) unowned += b.owned ? 0 : 1;
  EXPECT_EQ(unowned, 200);
}

}  // namespace
}  // namespace zel
