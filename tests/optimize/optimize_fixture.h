// The fixture of the optimize tests: a simulated machine with the trace log
// on, one of the maker's SATA drives as discovery records it, and helpers to
// read the registry store as the machine holds it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/ata_command.h"
#include "log/log.h"
#include "platform/sim/sim_registry.h"
#include "support/sim_fixture.h"

namespace zel::test {

// The product key as the store keeps it for a 32-bit program.
inline constexpr const char* kStoredProductKey = "SOFTWARE\\WOW6432Node\\Quarn\\SSDZelvane";

class OptimizeFixture : public SimTest {
 protected:
  void SetUp() override {
    SimTest::SetUp();
    SetLogLevel(1);
  }
  PhysicalDriveTable Drives() {
    ATACommand ata;
    PhysicalDriveTable table;
    ata.UpdatePhysicalDrivesInfo(table);
    return table;
  }
  // A stored value's bytes, or nothing when it is absent.
  std::optional<std::vector<uint8_t>> Stored(const std::string& key, const std::string& name) {
    auto v = sim::RegistryOf(Machine()).Find(key, name);
    if (!v) return std::nullopt;
    return v->data;
  }
  std::optional<uint32_t> StoredType(const std::string& key, const std::string& name) {
    auto v = sim::RegistryOf(Machine()).Find(key, name);
    if (!v) return std::nullopt;
    return v->type;
  }
  // The machine's clock in seconds since 1970.
  int64_t Now() { return static_cast<int64_t>(Machine().Clock().UnixMs() / 1000); }
};

}  // namespace zel::test
