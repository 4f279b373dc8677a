// The handles of the service manager as both backends keep them: a manager
// handle or a service handle, each with the rights it was opened with, so
// every call checks its handle and its right the same way on both.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/services.h"

namespace zel::platform {

class ServiceHandleTable {
 public:
  struct Entry {
    bool manager = false;
    std::string service;  // the service's name; empty for a manager
    uint32_t access = 0;
  };

  SC_HANDLE Add(Entry entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    SC_HANDLE handle = next_;
    next_ += 4;
    entries_[handle] = std::move(entry);
    return handle;
  }

  // The manager or service behind `handle` when it is one of that kind and
  // was opened with every bit of `right`; else the last error is set
  // (ERROR_INVALID_HANDLE, ERROR_ACCESS_DENIED) and nothing is returned.
  std::optional<Entry> Find(SC_HANDLE handle, bool manager, uint32_t right) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(handle);
    if (it == entries_.end() || it->second.manager != manager) {
      SetLastError(ERROR_INVALID_HANDLE);
      return std::nullopt;
    }
    if ((it->second.access & right) != right) {
      SetLastError(ERROR_ACCESS_DENIED);
      return std::nullopt;
    }
    return it->second;
  }

  bool Close(SC_HANDLE handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (entries_.erase(handle) == 0) return FailWith(ERROR_INVALID_HANDLE);
    return true;
  }

  size_t OpenCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_.size();
  }

 private:
  mutable std::mutex mutex_;
  std::map<SC_HANDLE, Entry> entries_;
  SC_HANDLE next_ = 0x5C00;
};

}  // namespace zel::platform
