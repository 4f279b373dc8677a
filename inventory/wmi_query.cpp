// The management-instrumentation query helper of UnderlyingUtil: one
// connection to the local ROOT\CIMV2 namespace, WQL statements on it, typed
// property reads.
#include "inventory/underlying_util.h"
#include "inventory/wmi_connection.h"
#include "log/log.h"
#include "platform/format.h"
#include "platform/platform.h"
#include "platform/text.h"

namespace zel {

using namespace zel::platform;

namespace {

// Statements are formatted into a buffer of 1,024 UTF-16 characters.
constexpr size_t kStatementUnits = 1023;

unsigned Hex(HRESULT hr) { return static_cast<unsigned>(hr); }

}  // namespace

namespace inventory_detail {

std::string EscapeBackslashes(const std::string& text) { return ReplaceAll(text, "\\", "\\\\"); }

uint64_t ParseDecimalU64(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' ||
                             text[i] == '\r' || text[i] == '\v' || text[i] == '\f'))
    ++i;
  if (i < text.size() && text[i] == '+') ++i;
  uint64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    uint64_t digit = static_cast<uint64_t>(text[i] - '0');
    if (value > (UINT64_MAX - digit) / 10) return UINT64_MAX;
    value = value * 10 + digit;
  }
  return value;
}

}  // namespace inventory_detail

int UnderlyingUtil::ConnectWmiService(LocatorPtr* locator, ServicesPtr* service) {
  LogEnter("UnderlyingUtil::ConnectWmiService");
  Com& com = Current().Wmi();
  locator->reset();
  service->reset();
  HRESULT hr = com.CoInitializeEx(COINIT_MULTITHREADED);
  if (FAILED(hr)) {
    LogTraceF("Fail to CoInitializeEx(0, COINIT_MULTITHREADED).. Error code = 0x%X\n", Hex(hr));
    return 0;
  }
  hr = com.CreateWbemLocator(locator);
  if (FAILED(hr) || !*locator) {
    LogTraceF("Fail to obtain the initial locator to Windows Management\n on a particular host "
              "computer.. Error code = 0x%X\n",
              Hex(hr));
    locator->reset();
    com.CoUninitialize();
    return 0;
  }
  hr = (*locator)->ConnectServer("ROOT\\CIMV2", service);
  if (FAILED(hr) || !*service) {
    LogTraceF("Fail to connect root\\cimv2 namespace with the current user\n and obtain pointer "
              "pSvc to make IWbemServices calls.. Error code = 0x%X\n",
              Hex(hr));
    service->reset();
    locator->reset();
    com.CoUninitialize();
    return 0;
  }
  hr = com.CoSetProxyBlanket(**service, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE,
                             RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE);
  if (FAILED(hr)) {
    LogTraceF("Fail to set proxy blanket. Error code = 0x%X\n", Hex(hr));
    service->reset();
    locator->reset();
    com.CoUninitialize();
    return 0;
  }
  LogExit("UnderlyingUtil::ConnectWmiService");
  return 1;
}

int UnderlyingUtil::ConnectWmiClass(const std::string& className, const std::string& condition,
                                    LocatorPtr& locator, ServicesPtr& service,
                                    EnumeratorPtr* enumerator) {
  LogEnter("UnderlyingUtil::ConnectWmiClass");
  LogTraceF("WMI Class: %s, Condition: %s", className.c_str(), condition.c_str());
  enumerator->reset();
  std::string statement = Format("SELECT * FROM %s %s", className.c_str(), condition.c_str());
  if (!service) {
    // No connection to query, and none to release.
    LogTraceF("Fail to ExecQuery(%s) . Error code = 0x%X\n", className.c_str(), Hex(E_INVALIDARG));
    return 0;
  }
  HRESULT hr;
  if (Utf16Length(statement) > kStatementUnits) {
    // A statement that does not fit its buffer is refused rather than run
    // cut short, which could name another class or another identifier.
    hr = WBEM_E_INVALID_QUERY;
  } else {
    hr = service->ExecQuery("WQL", statement, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                            enumerator);
  }
  if (FAILED(hr)) {
    enumerator->reset();
    service.reset();
    locator.reset();
    Current().Wmi().CoUninitialize();
    LogTraceF("Fail to ExecQuery(%s) . Error code = 0x%X\n", className.c_str(), Hex(hr));
    return 0;
  }
  LogExit("UnderlyingUtil::ConnectWmiClass");
  return 1;
}

int UnderlyingUtil::GetVariable(const std::string& propertyName, uint16_t expectedType,
                                const WbemClassObject& object, Variant* value) {
  LogEnter("UnderlyingUtil::GetVariable");
  LogTraceF("Get Variable: %s", propertyName.c_str());
  VariantClear(value);
  object.Get(propertyName, value);
  bool match = expectedType == VT_ARRAY ? (value->vt & VT_ARRAY) != 0 : value->vt == expectedType;
  if (!match)
    LogTraceF("Variable Type not Match: (input)0x%X-0x%X(real)", static_cast<unsigned>(expectedType),
              static_cast<unsigned>(value->vt));
  LogExit("UnderlyingUtil::GetVariable");
  return match ? 1 : 0;
}

int UnderlyingUtil::GetDeviceIDFromAssociators(WbemServices& service, const std::string& query,
                                               const std::string& propertyName,
                                               std::string* deviceId) {
  EnumeratorPtr enumerator;
  HRESULT hr = service.ExecQuery("WQL", query, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY,
                                 &enumerator);
  if (FAILED(hr) || !enumerator) return 1;
  for (;;) {
    std::shared_ptr<WbemClassObject> object;
    uint32_t returned = 0;
    hr = enumerator->Next(10000, &object, &returned);
    if (FAILED(hr) || returned != 1 || !object) break;
    Variant v;
    object->Get(propertyName, &v);
    if (v.vt != VT_EMPTY && v.vt != VT_NULL) {
      // A text as it is; a number as its decimal text, as a conversion of
      // the variant to a string gives it. Arrays carry no single identifier.
      if (v.vt == VT_BSTR) {
        *deviceId = v.text;
      } else if (!(v.vt & VT_ARRAY)) {
        *deviceId = std::to_string(v.integer);
      }
    }
    VariantClear(&v);
  }
  return 1;
}

}  // namespace zel
