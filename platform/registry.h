// The registry of the seam: keys under HKEY_LOCAL_MACHINE with open, create,
// query, set, delete, enumerate and close, the platform's value types, byte
// counts, views and status codes. REG_SZ data crosses as UTF-16LE bytes with
// a terminating NUL, as the platform stores it, so byte counts are the
// platform's.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace zel::platform {

using HKEY = std::uintptr_t;
using LSTATUS = int32_t;
inline constexpr HKEY HKEY_LOCAL_MACHINE = 0x80000002u;

inline constexpr uint32_t REG_NONE = 0;
inline constexpr uint32_t REG_SZ = 1;
inline constexpr uint32_t REG_EXPAND_SZ = 2;
inline constexpr uint32_t REG_BINARY = 3;
inline constexpr uint32_t REG_DWORD = 4;
inline constexpr uint32_t REG_MULTI_SZ = 7;
inline constexpr uint32_t REG_QWORD = 11;

inline constexpr uint32_t KEY_QUERY_VALUE = 0x0001;
inline constexpr uint32_t KEY_SET_VALUE = 0x0002;
inline constexpr uint32_t KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr uint32_t KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr uint32_t KEY_WOW64_64KEY = 0x0100;
inline constexpr uint32_t KEY_WOW64_32KEY = 0x0200;
inline constexpr uint32_t KEY_READ = 0x20019;
inline constexpr uint32_t KEY_WRITE = 0x20006;
inline constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

inline constexpr uint32_t REG_OPTION_NON_VOLATILE = 0;
inline constexpr uint32_t REG_CREATED_NEW_KEY = 1;
inline constexpr uint32_t REG_OPENED_EXISTING_KEY = 2;

class Registry {
 public:
  virtual ~Registry() = default;
  // Status codes are the platform's error numbers (ERROR_SUCCESS,
  // ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_MORE_DATA, ...).
  virtual LSTATUS RegOpenKeyExW(HKEY root, const std::string& subKey, uint32_t options,
                                uint32_t samDesired, HKEY* result) = 0;
  virtual LSTATUS RegCreateKeyExW(HKEY root, const std::string& subKey, uint32_t options,
                                  uint32_t samDesired, HKEY* result, uint32_t* disposition) = 0;
  // `data` may be null to ask for the size; `*dataSize` is in bytes, in and out.
  virtual LSTATUS RegQueryValueExW(HKEY key, const std::string& valueName, uint32_t* type,
                                   uint8_t* data, uint32_t* dataSize) = 0;
  virtual LSTATUS RegSetValueExW(HKEY key, const std::string& valueName, uint32_t type,
                                 const uint8_t* data, uint32_t dataSize) = 0;
  virtual LSTATUS RegDeleteValueW(HKEY key, const std::string& valueName) = 0;
  virtual LSTATUS RegDeleteKeyExW(HKEY root, const std::string& subKey, uint32_t samDesired) = 0;
  // Name of the subkey at `index`; ERROR_NO_MORE_ITEMS past the end.
  virtual LSTATUS RegEnumKeyExW(HKEY key, uint32_t index, std::string* name) = 0;
  virtual LSTATUS RegCloseKey(HKEY key) = 0;
};

// How RegQueryValueExW hands out a value it found, for the backends: the
// type when asked for; with no buffer only the size; a buffer too small
// gets the size needed and ERROR_MORE_DATA; otherwise the bytes and their
// count.
inline LSTATUS AnswerValueQuery(uint32_t valueType, const std::vector<uint8_t>& value, uint32_t* type,
                                uint8_t* data, uint32_t* dataSize) {
  if (type) *type = valueType;
  uint32_t size = static_cast<uint32_t>(value.size());
  if (!data) {
    if (dataSize) *dataSize = size;
    return ERROR_SUCCESS;
  }
  if (*dataSize < size) {
    *dataSize = size;
    return ERROR_MORE_DATA;
  }
  std::copy(value.begin(), value.end(), data);
  *dataSize = size;
  return ERROR_SUCCESS;
}

}  // namespace zel::platform
