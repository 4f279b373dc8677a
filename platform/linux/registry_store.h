// The registry of the real machine. Keys under HKEY_LOCAL_MACHINE that the
// system owns (the product key "SOFTWARE\Quarn\SSDZelvane" and its drive
// subkeys: everything below "SOFTWARE\Quarn") live in one SQLite database
// that the programs and the monitoring service share. The processor keys
// "HARDWARE\DESCRIPTION\System\CentralProcessor\<n>" are served read-only
// from /proc/cpuinfo. Keys the operating system has on the other platform
// (services, memory management, file system, power) do not exist here:
// opening them fails with ERROR_FILE_NOT_FOUND and creating them with
// ERROR_ACCESS_DENIED, so no setting is ever reported as applied when it
// was not.
//
// There is one view: a key opened with KEY_WOW64_32KEY, KEY_WOW64_64KEY or
// neither, or through "SOFTWARE\WOW6432Node\...", is the same key, so every
// program that shares the product key meets in one place.
//
// Where the database lives: the folder named by ZELVANE_STATE_DIR; else
// /var/lib/ssdzelvane for root; else $XDG_STATE_HOME/ssdzelvane (by default
// ~/.local/state/ssdzelvane). The file is "registry.sqlite3" in it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/linux/host_files.h"
#include "platform/registry.h"

struct sqlite3;

namespace zel::linuxbackend {

// The database file the real machine uses, from the environment and the
// user the program runs as.
std::string DefaultRegistryDatabasePath();

class RegistryStore final : public platform::Registry {
 public:
  // `databasePath`: the SQLite file (created with its folder on the first
  // write); `files`: where /proc/cpuinfo is read.
  RegistryStore(std::string databasePath, HostFiles files);
  ~RegistryStore() override;

  platform::LSTATUS RegOpenKeyExW(platform::HKEY root, const std::string& subKey, uint32_t options,
                                  uint32_t samDesired, platform::HKEY* result) override;
  platform::LSTATUS RegCreateKeyExW(platform::HKEY root, const std::string& subKey, uint32_t options,
                                    uint32_t samDesired, platform::HKEY* result,
                                    uint32_t* disposition) override;
  platform::LSTATUS RegQueryValueExW(platform::HKEY key, const std::string& valueName, uint32_t* type,
                                     uint8_t* data, uint32_t* dataSize) override;
  platform::LSTATUS RegSetValueExW(platform::HKEY key, const std::string& valueName, uint32_t type,
                                   const uint8_t* data, uint32_t dataSize) override;
  platform::LSTATUS RegDeleteValueW(platform::HKEY key, const std::string& valueName) override;
  platform::LSTATUS RegDeleteKeyExW(platform::HKEY root, const std::string& subKey,
                                    uint32_t samDesired) override;
  platform::LSTATUS RegEnumKeyExW(platform::HKEY key, uint32_t index, std::string* name) override;
  platform::LSTATUS RegCloseKey(platform::HKEY key) override;

  const std::string& DatabasePath() const { return path_; }

 private:
  enum class Area { Stored, Virtual, Absent };
  struct Handle {
    std::string path;  // normalised, original case
    uint32_t access = 0;
    Area area = Area::Absent;
  };
  struct Value {
    uint32_t type = 0;
    std::vector<uint8_t> data;
  };

  // Opens the database; `forWriting` creates it (and its folder). False when
  // it cannot be had.
  bool Open(bool forWriting);
  bool Exec(const char* sql);
  bool KeyExists(const std::string& lowerPath);
  bool ResolvePath(platform::HKEY root, const std::string& subKey, std::string* path);
  Area AreaOf(const std::string& path) const;
  // Virtual keys: the read-only tree around the processor keys.
  bool VirtualExists(const std::string& path) const;
  std::vector<std::string> VirtualChildren(const std::string& path) const;
  bool VirtualValue(const std::string& path, const std::string& name, Value* value) const;
  platform::HKEY NewHandle(Handle h);
  bool LookupHandle(platform::HKEY key, Handle* h);

  std::string path_;
  HostFiles files_;
  std::mutex mutex_;
  sqlite3* db_ = nullptr;
  bool writable_ = false;
  std::map<platform::HKEY, Handle> handles_;
  platform::HKEY next_ = 0x1000;
  // The processor keys, read from /proc/cpuinfo when first looked at.
  struct ProcessorKeys {
    std::vector<std::string> names, vendors;
    std::vector<uint32_t> mhz;
  };
  const ProcessorKeys& Processors() const;
  mutable std::once_flag processorsRead_;
  mutable ProcessorKeys processors_;
};

}  // namespace zel::linuxbackend
