// One connection of an inventory operation, as the query helper opens it:
// connect, run queries on the one service, and at the end release the service
// and the locator and uninitialise COM, exactly once, whichever way the
// operation leaves (a failed ConnectWmiClass has already done it).
#pragma once

#include <memory>
#include <string>

#include "inventory/underlying_util.h"
#include "platform/platform.h"

namespace zel::inventory_detail {

class WmiConnection {
 public:
  explicit WmiConnection(UnderlyingUtil& util) : util_(util) {}
  ~WmiConnection() { Close(); }
  WmiConnection(const WmiConnection&) = delete;
  WmiConnection& operator=(const WmiConnection&) = delete;

  bool Open() {
    open_ = util_.ConnectWmiService(&locator, &service) == 1;
    return open_;
  }
  // ConnectWmiClass over this connection. On failure the connection is over.
  bool Query(const std::string& className, const std::string& condition,
             UnderlyingUtil::EnumeratorPtr* enumerator) {
    if (util_.ConnectWmiClass(className, condition, locator, service, enumerator)) return true;
    open_ = false;
    return false;
  }
  void Close() {
    if (!open_) return;
    service.reset();
    locator.reset();
    platform::Current().Wmi().CoUninitialize();
    open_ = false;
  }
  platform::WbemServices& Service() { return *service; }

  UnderlyingUtil::LocatorPtr locator;
  UnderlyingUtil::ServicesPtr service;

 private:
  UnderlyingUtil& util_;
  bool open_ = false;
};

// The next object of an enumerator (infinite wait), or null at the end.
inline std::shared_ptr<platform::WbemClassObject> NextObject(
    const UnderlyingUtil::EnumeratorPtr& enumerator) {
  std::shared_ptr<platform::WbemClassObject> object;
  uint32_t returned = 0;
  enumerator->Next(platform::WBEM_INFINITE, &object, &returned);
  if (returned == 0) object.reset();
  return object;
}

// Reads a text property: true and `*text` set when it is a VT_BSTR.
inline bool GetText(UnderlyingUtil& util, const char* name,
                    const platform::WbemClassObject& object, std::string* text) {
  platform::Variant v;
  bool ok = util.GetVariable(name, platform::VT_BSTR, object, &v) == 1;
  if (ok) *text = v.text;
  platform::VariantClear(&v);
  return ok;
}

// Reads a VT_I4 property.
inline bool GetInt(UnderlyingUtil& util, const char* name, const platform::WbemClassObject& object,
                   int32_t* value) {
  platform::Variant v;
  bool ok = util.GetVariable(name, platform::VT_I4, object, &v) == 1;
  if (ok) *value = static_cast<int32_t>(v.integer);
  platform::VariantClear(&v);
  return ok;
}

// Every "\" doubled, as WQL texts and object paths write it.
std::string EscapeBackslashes(const std::string& text);
// An unsigned decimal number at the start of a text (after blanks), as the
// platform's "%llu" reads it but without its wrap-around of a minus sign or
// of too many digits: no digits give 0, too many give the largest value.
uint64_t ParseDecimalU64(const std::string& text);

}  // namespace zel::inventory_detail
