// The registry of the simulated machine: an in-memory store of keys under
// HKEY_LOCAL_MACHINE with the platform's value types, byte counts, status
// codes, access rights and views. The program counts as a 32-bit program on
// a 64-bit system (as the desktop and tray programs are), so its keys under
// SOFTWARE land in SOFTWARE\WOW6432Node unless it asks for the 64-bit view.
//
// Seeded from the machine file's "registry" section (and the processor key
// from "system"); written back as JSON, in the same form the section uses,
// to the file the section names (or SetOutputFile) when the machine ends.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/sim/json_util.h"

namespace zel::sim {

class SimMachine;

// Status codes of the store that the seam's errors.h does not list.
inline constexpr platform::LSTATUS kErrorBadPathname = 161;
inline constexpr platform::LSTATUS kErrorKeyDeleted = 1018;

class SimRegistry final : public platform::Registry {
 public:
  struct Value {
    uint32_t type = platform::REG_NONE;
    std::vector<uint8_t> data;
  };

  // `root` is the machine file; throws FixtureError naming the field.
  explicit SimRegistry(const Json& root);
  ~SimRegistry() override;  // writes the store to the output file, if any

  platform::LSTATUS RegOpenKeyExW(platform::HKEY root, const std::string& subKey, uint32_t options,
                                  uint32_t samDesired, platform::HKEY* result) override;
  platform::LSTATUS RegCreateKeyExW(platform::HKEY root, const std::string& subKey,
                                    uint32_t options, uint32_t samDesired, platform::HKEY* result,
                                    uint32_t* disposition) override;
  platform::LSTATUS RegQueryValueExW(platform::HKEY key, const std::string& valueName,
                                     uint32_t* type, uint8_t* data, uint32_t* dataSize) override;
  platform::LSTATUS RegSetValueExW(platform::HKEY key, const std::string& valueName, uint32_t type,
                                   const uint8_t* data, uint32_t dataSize) override;
  platform::LSTATUS RegDeleteValueW(platform::HKEY key, const std::string& valueName) override;
  platform::LSTATUS RegDeleteKeyExW(platform::HKEY root, const std::string& subKey,
                                    uint32_t samDesired) override;
  platform::LSTATUS RegEnumKeyExW(platform::HKEY key, uint32_t index, std::string* name) override;
  platform::LSTATUS RegCloseKey(platform::HKEY key) override;

  // Where the store goes when the machine ends (empty: nowhere). A relative
  // path is taken from the current directory at the time of the call.
  void SetOutputFile(const std::string& path);
  const std::string& OutputFile() const { return outputFile_; }
  // Writes the store to the output file now; false when it cannot.
  bool Save() const;
  // The store as {"keys": {"PATH": {"Name": value, ...}, ...}}, keys by their
  // stored (view-resolved) paths.
  Json ToJson() const;

  // For tests: a value by its stored path, and the number of open handles.
  std::optional<Value> Find(const std::string& keyPath, const std::string& valueName) const;
  bool KeyExists(const std::string& keyPath) const;
  size_t OpenHandles() const;

  struct Node;

 private:
  struct Handle {
    std::shared_ptr<Node> node;
    std::vector<std::string> logical;  // the path as the program named it
    bool view32 = false;
    uint32_t access = 0;
  };
  struct Fault {
    std::string op, key, value;
    platform::LSTATUS error = 0;
    int skip = 0, times = -1, seen = 0;
  };

  // Lock held for all of these.
  platform::LSTATUS Resolve(platform::HKEY root, const std::string& subKey, uint32_t sam,
                            std::vector<std::string>* logical, std::vector<std::string>* stored,
                            bool* view32);
  std::shared_ptr<Node> Walk(const std::vector<std::string>& stored) const;
  std::shared_ptr<Node> WalkCreate(const std::vector<std::string>& stored, bool* created);
  std::string PathOf(const Node& node) const;
  bool WriteAllowed(const std::vector<std::string>& stored) const;
  platform::LSTATUS FaultFor(const std::string& op, const std::string& keyPath,
                             const std::string& valueName);
  Handle* Lookup(platform::HKEY key);
  platform::HKEY NewHandle(Handle h);

  void Seed(const Json& root);

  mutable std::mutex mutex_;
  std::shared_ptr<Node> root_;
  std::map<platform::HKEY, Handle> handles_;
  platform::HKEY nextHandle_ = 0x1000;
  bool system64_ = true;
  bool program32_ = true;
  bool admin_ = true;
  std::vector<std::vector<std::string>> readOnly_;
  std::vector<Fault> faults_;
  std::string outputFile_;
};

// The registry of a simulated machine (its Reg()).
SimRegistry& RegistryOf(SimMachine& machine);

}  // namespace zel::sim
