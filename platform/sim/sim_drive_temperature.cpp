// A drive whose temperature changes with virtual time: "temperatureSteps"
// lists from which virtual second (since the machine started) the drive
// reports which temperature, so a test can heat a drive up and cool it down
// while a program watches it.
#include "platform/sim/machine.h"
#include "platform/sim/nvme_drive.h"
#include "platform/wire/nvme_health.h"
#include "platform/sim/sim_drive.h"

namespace zel::sim {

void SimDrive::LoadTemperatureSteps() {
  startTickMs_ = machine_.Clock().NowMs();
  if (!entry_.contains("temperatureSteps")) return;
  const std::string at = where_ + ".temperatureSteps";
  const Json& list = entry_["temperatureSteps"];
  if (!list.is_array()) throw FixtureError(at + ": expected a list");
  for (size_t i = 0; i < list.size(); ++i) {
    const std::string w = at + "[" + std::to_string(i) + "]";
    CheckKeys(list[i], {"at", "celsius", "comment"}, w);
    if (!list[i].contains("at") || !list[i].contains("celsius"))
      throw FixtureError(w + ": expected \"at\" (seconds) and \"celsius\"");
    const uint64_t second = static_cast<uint64_t>(IntegerOr(list[i], "at", 0, 0, 100LL * 365 * 86400, w));
    const int32_t celsius = static_cast<int32_t>(IntegerOr(list[i], "celsius", 0, 1, 99, w));
    if (!temperatureSteps_.empty() && second * 1000 <= temperatureSteps_.back().first)
      throw FixtureError(w + ".at: the steps must come in rising order");
    temperatureSteps_.push_back({second * 1000, celsius});
  }
}

std::optional<int32_t> SimDrive::TemperatureNow() const {
  const uint64_t since = machine_.Clock().NowMs() - startTickMs_;
  std::optional<int32_t> now;
  for (const auto& [atMs, celsius] : temperatureSteps_) {
    if (atMs > since) break;
    now = celsius;
  }
  return now;
}

std::array<uint8_t, NvmeDrive::kHealthLogSize> NvmeDrive::HealthNow() const {
  std::array<uint8_t, kHealthLogSize> log = health_;
  if (std::optional<int32_t> celsius = TemperatureNow())
    wire::NvmeHealthLog::PutCompositeTemperatureKelvin(log.data(),
                                                       static_cast<uint16_t>(*celsius + 273));
  return log;
}

}  // namespace zel::sim
