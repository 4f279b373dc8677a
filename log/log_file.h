// The file under one log writer: where it is, how a run begins with it, and
// the one append-only handle a run keeps on it. Used by log.cpp under the
// writers' lock; no other part of the system holds these.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace zel::logfile {

// How a run treats the file it finds.
enum class Sharing {
  // The run owns the file: its first call deletes the previous run's file, so
  // the file holds exactly one run's lines.
  OwnRun,
  // Runs share the file: each appends, holding a shared lock while its handle
  // is open. A run that finds the file at its size cap while no other run
  // holds it moves its lines to "<name>.1" (replacing the earlier one) and
  // begins the file anew, so no line of a running run is ever moved or lost.
  Shared,
};

class LogFile {
 public:
  LogFile() = default;
  ~LogFile() = default;
  LogFile(const LogFile&) = delete;
  LogFile& operator=(const LogFile&) = delete;

  // The run's first call: names the file beside the program and, for a file
  // the run owns, deletes the previous run's file. Nothing is opened yet.
  void Begin(std::string besideProgram, Sharing sharing, uint64_t capBytes, bool mayFallBack);
  // Appends the bytes with one write. The file is opened on the first append
  // of the run (or again when the current platform changed): beside the
  // program, else, when allowed, in the machine's log folder. False when no
  // file could be opened or the write failed; a run whose file cannot be
  // opened anywhere stops trying until it is begun again.
  bool Append(std::string_view bytes);
  // Opens the file as Append would, writing nothing; true when it is open.
  bool EnsureOpen();
  // Closes the handle (the file stays; the next Append reopens it, appending).
  void Close();
  // Forgets the run: closes the handle and clears the path.
  void Reset();

  // The file the run writes (or will write): beside the program until an
  // open there failed and the fallback was taken.
  const std::string& Path() const { return path_; }
  // The folder beside the program that could not be written, when the file
  // fell back to the machine's log folder; else empty.
  const std::string& UnwritableFolder() const { return unwritableFolder_; }
  // True once the run's file was opened for the first time; the first append
  // of a run can tell the caller this way that it begins the file's run.
  bool Opened() const { return everOpened_; }

 private:
  bool Open(platform::Platform& p);
  platform::HANDLE OpenAt(platform::Files& files, const std::string& path, bool deleteFirst);
  void RotateIfFull(platform::Files& files, platform::HANDLE h);

  std::string path_;
  std::string besideProgram_;
  std::string unwritableFolder_;
  Sharing sharing_ = Sharing::OwnRun;
  uint64_t capBytes_ = 0;
  bool mayFallBack_ = false;
  bool failed_ = false;
  bool everOpened_ = false;
  // The handle belongs to the platform it was opened on; it is used only
  // while that platform is still the current one.
  std::weak_ptr<platform::Platform> owner_;
  platform::HANDLE handle_ = platform::INVALID_HANDLE_VALUE;
};

}  // namespace zel::logfile
