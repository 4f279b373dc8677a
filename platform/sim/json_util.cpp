#include "platform/sim/json_util.h"

#include <algorithm>
#include <cctype>

namespace zel::sim {

uint64_t ToNumber(const Json& value, const std::string& where) {
  if (value.is_number_unsigned()) return value.get<uint64_t>();
  if (value.is_number_integer()) {
    int64_t v = value.get<int64_t>();
    return static_cast<uint64_t>(v);  // negative numbers keep their two's complement bits
  }
  if (value.is_boolean()) return value.get<bool>() ? 1 : 0;
  if (value.is_string()) {
    std::string s = value.get<std::string>();
    int base = 10;
    size_t start = 0;
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
      base = 16;
      start = 2;
    }
    if (start < s.size()) {
      size_t used = 0;
      try {
        uint64_t v = std::stoull(s.substr(start), &used, base);
        if (start + used == s.size()) return v;
      } catch (const std::exception&) {
      }
    }
  }
  throw FixtureError(where + ": expected a number, found " + value.dump());
}

int64_t IntegerIn(const Json& value, int64_t min, int64_t max, const std::string& where) {
  bool negative = value.is_number_integer() && !value.is_number_unsigned() &&
                  value.get<int64_t>() < 0;
  if (negative) {
    int64_t v = value.get<int64_t>();
    if (v >= min) return v;
  } else {
    uint64_t v = ToNumber(value, where);
    if (max >= 0 && v <= static_cast<uint64_t>(max) && static_cast<int64_t>(v) >= min)
      return static_cast<int64_t>(v);
  }
  throw FixtureError(where + ": " + value.dump() + " lies outside " + std::to_string(min) +
                     " to " + std::to_string(max));
}

int64_t IntegerOr(const Json& object, const char* key, int64_t fallback, int64_t min, int64_t max,
                  const std::string& where) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  return IntegerIn(*it, min, max, where + "." + key);
}

uint64_t NumberOr(const Json& object, const char* key, uint64_t fallback, const std::string& where) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  return ToNumber(*it, where + "." + key);
}

std::string TextOr(const Json& object, const char* key, const std::string& fallback,
                   const std::string& where) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (!it->is_string()) throw FixtureError(where + "." + key + ": expected a text");
  return it->get<std::string>();
}

bool BoolOr(const Json& object, const char* key, bool fallback, const std::string& where) {
  auto it = object.find(key);
  if (it == object.end()) return fallback;
  if (!it->is_boolean()) throw FixtureError(where + "." + key + ": expected true or false");
  return it->get<bool>();
}

std::vector<uint8_t> ToBytes(const Json& value, const std::string& where) {
  std::vector<uint8_t> out;
  if (value.is_array()) {
    for (size_t i = 0; i < value.size(); ++i) {
      uint64_t v = ToNumber(value[i], where + "[" + std::to_string(i) + "]");
      if (v > 0xFF) throw FixtureError(where + "[" + std::to_string(i) + "]: not a byte");
      out.push_back(static_cast<uint8_t>(v));
    }
    return out;
  }
  if (value.is_string()) {
    std::string hex;
    for (char c : value.get<std::string>())
      if (!std::isspace(static_cast<unsigned char>(c))) hex += c;
    if (hex.size() % 2 != 0) throw FixtureError(where + ": odd number of hexadecimal digits");
    for (size_t i = 0; i < hex.size(); i += 2) {
      auto digit = [&](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        throw FixtureError(where + ": not a hexadecimal digit: " + std::string(1, c));
      };
      out.push_back(static_cast<uint8_t>(digit(hex[i]) * 16 + digit(hex[i + 1])));
    }
    return out;
  }
  throw FixtureError(where + ": expected bytes (hexadecimal text or an array)");
}

void CheckKeys(const Json& object, std::initializer_list<const char*> allowed,
               const std::string& where) {
  if (!object.is_object()) throw FixtureError(where + ": expected an object");
  for (auto it = object.begin(); it != object.end(); ++it) {
    if (std::none_of(allowed.begin(), allowed.end(),
                     [&](const char* k) { return it.key() == k; }))
      throw FixtureError(where + ": unknown field \"" + it.key() + "\"");
  }
}

}  // namespace zel::sim
