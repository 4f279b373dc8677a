// Named objects shared by the processes of one machine (a shown window
// title, a mutex), for the backends: each object must be visible to every
// process of the machine, as the platform's own objects are, and must
// vanish when the process that holds it ends, however it ends.
//
// Each object is a file in a folder that belongs to the user, named from a
// prefix, the object's kind and its name. A process that holds the object
// holds a shared open-file-description lock on that file; the object exists
// while any such lock is held. The test for a holder only asks for the lock,
// so processes that ask at the same time never mistake each other's question
// for a holder. Locks belong to one open description each, so two holders in
// one process count separately and a test in the holder's own process sees
// them. The file goes when the last holder lets go (or, after holders that
// died, at the next test), so nothing stays behind.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace zel::platform {

class NamedObjects {
 public:
  // The objects are files of `folder` (made when it is missing, and used only
  // while it is a directory of this user that nobody else may write to, so
  // another user can neither plant nor remove objects) whose names start
  // with `prefix`.
  NamedObjects(std::string folder, std::string prefix);
  ~NamedObjects();
  NamedObjects(const NamedObjects&) = delete;
  NamedObjects& operator=(const NamedObjects&) = delete;

  // Takes a hold on the object; returns a token (never 0), or 0 with the
  // last error set.
  std::intptr_t Hold(const std::string& kind, const std::string& name);
  // Takes a hold as Hold does and tells, as the platform tells a creator,
  // whether the object was there already: the last error is then
  // ERROR_ALREADY_EXISTS, else ERROR_SUCCESS.
  std::intptr_t Create(const std::string& kind, const std::string& name);
  void Release(std::intptr_t token);
  // Whether any process holds the object.
  bool Exists(const std::string& kind, const std::string& name);

  // 16 hexadecimal digits of the FNV-1a hash of `text`: a file name for any text.
  static std::string HashText(const std::string& text);

 private:
  struct Held {
    int fd = -1;
    std::string path;
  };
  static void Drop(const Held& held);
  static void RemoveIfUnheld(const std::string& path);
  bool PathOf(const std::string& kind, const std::string& name, std::string* path);

  std::string folder_;
  std::string prefix_;
  std::mutex mutex_;
  std::map<std::intptr_t, Held> held_;
  std::intptr_t next_ = 0x200;
};

}  // namespace zel::platform
