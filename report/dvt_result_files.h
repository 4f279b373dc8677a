// The result files of a verification run, written through the log's
// verification writers and checked as they are written: a line that does not
// reach its file (a folder that cannot be written, a full disk, a file held
// by another program) marks that file as not written completely, so the run
// never reports success for files it could not write.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "log/log.h"

namespace zel {

// Forgets the files of an earlier run in this process.
void StartDvtResultFiles();

// The verification writers of log/log.h, each followed by its check.
void DvtReportLine(std::string_view tag, std::string_view text);
void DvtFailLine(std::string_view text);
void DvtPassLine(std::string_view text);
void DvtSummaryLine(std::string_view text);

struct DvtResultFile {
  LogWriter writer;
  std::string path;
  // Every line went to the file whole and the file ends with its last line.
  bool complete = false;
};

// The files this run wrote lines to, in the order of their first line. With
// the log switched off no file is written and the list is empty.
std::vector<DvtResultFile> DvtResultFilesOfRun();

}  // namespace zel
