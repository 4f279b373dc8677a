// Reading machine files: numbers given as JSON integers or as "0x.."/decimal
// strings, byte blocks given as hexadecimal text or arrays, and errors that
// name the place in the file.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace zel::sim {

using Json = nlohmann::json;

// A mistake in a machine file; `what()` names the field.
class FixtureError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An integer field: 12, "12", "0x0C". Throws FixtureError naming `where`.
uint64_t ToNumber(const Json& value, const std::string& where);
// An integer field that must lie in [min, max]; a negative number, or one
// beyond the range, is refused naming `where` (never wrapped or cut).
int64_t IntegerIn(const Json& value, int64_t min, int64_t max, const std::string& where);
// An optional member read with IntegerIn.
int64_t IntegerOr(const Json& object, const char* key, int64_t fallback, int64_t min, int64_t max,
                  const std::string& where);
// Optional unsigned members of the platform's widths, read with IntegerOr.
inline uint32_t U32Or(const Json& object, const char* key, uint32_t fallback,
                      const std::string& where) {
  return static_cast<uint32_t>(IntegerOr(object, key, fallback, 0, 0xFFFFFFFF, where));
}
inline uint16_t U16Or(const Json& object, const char* key, uint16_t fallback,
                      const std::string& where) {
  return static_cast<uint16_t>(IntegerOr(object, key, fallback, 0, 0xFFFF, where));
}
inline uint8_t U8Or(const Json& object, const char* key, uint8_t fallback,
                    const std::string& where) {
  return static_cast<uint8_t>(IntegerOr(object, key, fallback, 0, 0xFF, where));
}
// Optional members of an object.
uint64_t NumberOr(const Json& object, const char* key, uint64_t fallback, const std::string& where);
std::string TextOr(const Json& object, const char* key, const std::string& fallback,
                   const std::string& where);
bool BoolOr(const Json& object, const char* key, bool fallback, const std::string& where);
// A byte block: "00 1A FF ..." / "001AFF" (blanks ignored) or [0, 26, 255].
std::vector<uint8_t> ToBytes(const Json& value, const std::string& where);
// Fails unless `object` is a JSON object whose keys are all in `allowed`, so
// a misspelt field never passes unnoticed.
void CheckKeys(const Json& object, std::initializer_list<const char*> allowed,
               const std::string& where);

}  // namespace zel::sim
