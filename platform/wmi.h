// Management instrumentation of the seam, shaped like the platform's COM
// interfaces: initialise COM, create the locator, connect to a namespace,
// set the proxy blanket, run a WQL statement, walk the result objects and
// read typed properties. Backends supply an object model (platform/wql runs
// the statements over it); failures carry HRESULTs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"

namespace zel::platform {

// Variant types the system tests.
inline constexpr uint16_t VT_EMPTY = 0;
inline constexpr uint16_t VT_NULL = 1;
inline constexpr uint16_t VT_I2 = 2;
inline constexpr uint16_t VT_I4 = 3;
inline constexpr uint16_t VT_BSTR = 8;
inline constexpr uint16_t VT_BOOL = 11;
inline constexpr uint16_t VT_UI1 = 17;
inline constexpr uint16_t VT_UI2 = 18;
inline constexpr uint16_t VT_UI4 = 19;
inline constexpr uint16_t VT_I8 = 20;
inline constexpr uint16_t VT_UI8 = 21;
inline constexpr uint16_t VT_ARRAY = 0x2000;

// A VARIANT: its type tag and the value of that type. Integer types keep their
// value in `integer`; VT_BSTR in `text`; VT_ARRAY | VT_BSTR in `texts`.
struct Variant {
  uint16_t vt = VT_EMPTY;
  int64_t integer = 0;
  std::string text;
  std::vector<std::string> texts;

  static Variant Null() { return Variant{VT_NULL, 0, {}, {}}; }
  static Variant Bstr(std::string s) { return Variant{VT_BSTR, 0, std::move(s), {}}; }
  static Variant I4(int32_t v) { return Variant{VT_I4, v, {}, {}}; }
  static Variant Integer(uint16_t type, int64_t v) { return Variant{type, v, {}, {}}; }
  static Variant BstrArray(std::vector<std::string> v) {
    return Variant{static_cast<uint16_t>(VT_ARRAY | VT_BSTR), 0, {}, std::move(v)};
  }
  bool operator==(const Variant&) const = default;
};

// VariantClear: back to VT_EMPTY.
inline void VariantClear(Variant* v) { *v = Variant{}; }

class WbemClassObject {
 public:
  virtual ~WbemClassObject() = default;
  // IWbemClassObject::Get. A property the class does not have fails with
  // WBEM_E_NOT_FOUND and leaves the value VT_EMPTY.
  virtual HRESULT Get(const std::string& name, Variant* value) const = 0;
};

class EnumWbemClassObject {
 public:
  virtual ~EnumWbemClassObject() = default;
  // IEnumWbemClassObject::Next for one object. WBEM_INFINITE is -1.
  // Returns WBEM_S_NO_ERROR with *returned 1, or WBEM_S_FALSE with *returned 0
  // at the end (WBEM_S_TIMEDOUT when a bounded wait expires).
  virtual HRESULT Next(int32_t timeoutMs, std::shared_ptr<WbemClassObject>* object,
                       uint32_t* returned) = 0;
};
inline constexpr int32_t WBEM_INFINITE = -1;
inline constexpr int32_t WBEM_FLAG_FORWARD_ONLY = 0x20;
inline constexpr int32_t WBEM_FLAG_RETURN_IMMEDIATELY = 0x10;

class WbemServices {
 public:
  virtual ~WbemServices() = default;
  // IWbemServices::ExecQuery.
  virtual HRESULT ExecQuery(const std::string& language, const std::string& query, int32_t flags,
                            std::shared_ptr<EnumWbemClassObject>* result) = 0;
};

class WbemLocator {
 public:
  virtual ~WbemLocator() = default;
  // IWbemLocator::ConnectServer with no user, password, locale, authority or context.
  virtual HRESULT ConnectServer(const std::string& networkResource,
                                std::shared_ptr<WbemServices>* services) = 0;
};

inline constexpr uint32_t COINIT_MULTITHREADED = 0x0;
inline constexpr uint32_t RPC_C_AUTHN_WINNT = 10;
inline constexpr uint32_t RPC_C_AUTHZ_NONE = 0;
inline constexpr uint32_t RPC_C_AUTHN_LEVEL_CALL = 3;
inline constexpr uint32_t RPC_C_IMP_LEVEL_IMPERSONATE = 3;

class Com {
 public:
  virtual ~Com() = default;
  virtual HRESULT CoInitializeEx(uint32_t coInit) = 0;
  virtual void CoUninitialize() = 0;
  // CoCreateInstance of the WMI locator class, in-process, for IWbemLocator.
  virtual HRESULT CreateWbemLocator(std::shared_ptr<WbemLocator>* locator) = 0;
  virtual HRESULT CoSetProxyBlanket(WbemServices& services, uint32_t authnService,
                                    uint32_t authzService, uint32_t authnLevel,
                                    uint32_t impLevel) = 0;
};

}  // namespace zel::platform
