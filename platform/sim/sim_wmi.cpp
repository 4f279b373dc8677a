// Management instrumentation of the simulated machine: the object model
// described by the machine file, served through the WQL engine.
#include "platform/sim/sim_wmi.h"

#include <limits>

#include "platform/format.h"
#include "platform/sim/machine.h"
#include "platform/text.h"
#include "platform/wql/model_com.h"

namespace zel::sim {

using namespace zel::platform;
using wql::Object;
using wql::ObjectModel;

namespace {

constexpr const char* kDiskClassGuid = "{4d36e967-e325-11ce-bfc1-08002be10318}";
constexpr const char* kHdcClassGuid = "{4d36e96a-e325-11ce-bfc1-08002be10318}";
constexpr const char* kScsiAdapterClassGuid = "{4d36e97b-e325-11ce-bfc1-08002be10318}";

// ---- Variants from machine-file values --------------------------------------

struct TypeName {
  const char* name;
  uint16_t vt;
};
constexpr TypeName kTypeNames[] = {
    {"VT_EMPTY", VT_EMPTY}, {"VT_NULL", VT_NULL}, {"VT_I2", VT_I2},     {"VT_I4", VT_I4},
    {"VT_BSTR", VT_BSTR},   {"VT_BOOL", VT_BOOL}, {"VT_UI1", VT_UI1},   {"VT_UI2", VT_UI2},
    {"VT_UI4", VT_UI4},     {"VT_I8", VT_I8},     {"VT_UI8", VT_UI8},
};

uint16_t ParseVariantType(const Json& value, const std::string& where) {
  if (!value.is_string()) return static_cast<uint16_t>(ToNumber(value, where));
  std::string text = value.get<std::string>();
  uint16_t vt = 0;
  std::string rest = text;
  if (StartsWith(ToUpperAscii(rest), "VT_ARRAY|")) {
    vt = VT_ARRAY;
    rest = rest.substr(9);
  }
  for (const TypeName& t : kTypeNames)
    if (EqualsNoCaseAscii(rest, t.name)) return static_cast<uint16_t>(vt | t.vt);
  return static_cast<uint16_t>(ToNumber(value, where));
}

std::string ScalarText(const Json& value, const std::string& where) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_number_unsigned()) return std::to_string(value.get<uint64_t>());
  if (value.is_number_integer()) return std::to_string(value.get<int64_t>());
  throw FixtureError(where + ": expected a text or a number");
}

// A property value: "text" → VT_BSTR, 12 → VT_I4, null → VT_NULL,
// true → VT_BOOL, ["a", "b"] → VT_ARRAY | VT_BSTR, {"type": ..., "value": ...}
// for any other type, {"reference": class, "key": id} for an object path.
Variant ToVariant(const Json& value, const ObjectModel& model, const std::string& where) {
  if (value.is_null()) return Variant::Null();
  if (value.is_string()) return Variant::Bstr(value.get<std::string>());
  if (value.is_boolean()) return Variant::Integer(VT_BOOL, value.get<bool>() ? -1 : 0);
  if (value.is_number_integer()) {
    int64_t v = value.is_number_unsigned() && value.get<uint64_t>() > INT64_MAX
                    ? INT64_MAX
                    : value.get<int64_t>();
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
      throw FixtureError(where + ": does not fit VT_I4; write large numbers as texts, as the "
                                 "platform gives 64-bit values");
    return Variant::I4(static_cast<int32_t>(v));
  }
  if (value.is_array()) {
    std::vector<std::string> texts;
    for (size_t i = 0; i < value.size(); ++i)
      texts.push_back(ScalarText(value[i], where + "[" + std::to_string(i) + "]"));
    return Variant::BstrArray(std::move(texts));
  }
  if (!value.is_object()) throw FixtureError(where + ": expected a property value");
  if (value.contains("reference")) {
    CheckKeys(value, {"reference", "key", "comment"}, where);
    return Variant::Bstr(model.PathOf(TextOr(value, "reference", "", where),
                                      TextOr(value, "key", "", where)));
  }
  CheckKeys(value, {"type", "value", "comment"}, where);
  if (!value.contains("type")) throw FixtureError(where + ".type: required");
  Variant v;
  v.vt = ParseVariantType(value["type"], where + ".type");
  const Json* data = value.contains("value") ? &value["value"] : nullptr;
  if (v.vt & VT_ARRAY) {
    if (data) {
      if (!data->is_array()) throw FixtureError(where + ".value: expected a list");
      for (size_t i = 0; i < data->size(); ++i)
        v.texts.push_back(ScalarText((*data)[i], where + ".value[" + std::to_string(i) + "]"));
    }
  } else if (v.vt == VT_BSTR) {
    v.text = data ? ScalarText(*data, where + ".value") : std::string();
  } else if (v.vt != VT_EMPTY && v.vt != VT_NULL && data) {
    if (data->is_boolean()) {
      v.integer = data->get<bool>() ? -1 : 0;
    } else {
      v.integer = static_cast<int64_t>(ToNumber(*data, where + ".value"));
    }
  }
  return v;
}

// A text field of the machine file as a property: absent → the default,
// null → VT_NULL.
Variant TextProperty(const Json& object, const char* key, const std::string& fallback,
                     const std::string& where) {
  auto it = object.find(key);
  if (it == object.end()) return Variant::Bstr(fallback);
  if (it->is_null()) return Variant::Null();
  return Variant::Bstr(ScalarText(*it, where + "." + key));
}

Variant IntProperty(const Json& object, const char* key, int32_t fallback,
                    const std::string& where) {
  auto it = object.find(key);
  if (it == object.end()) return Variant::I4(fallback);
  if (it->is_null()) return Variant::Null();
  return Variant::I4(static_cast<int32_t>(ToNumber(*it, where + "." + key)));
}

// ---- The objects of the machine --------------------------------------------

// The class of a controller object and of its association to its devices.
const char* ControllerClass(const SimController& c) {
  return c.type == "scsi" ? "Win32_SCSIController" : "Win32_IDEController";
}
const char* ControllerAssociation(const SimController& c) {
  return c.type == "scsi" ? "Win32_SCSIControllerDevice" : "Win32_IDEControllerDevice";
}

std::string InterfaceTypeOf(const SimMachine& machine, const SimDrive& drive) {
  std::string given = TextOr(drive.Spec(), "interfaceType", "", drive.Where());
  if (!given.empty()) return given;
  if (drive.Bus() == "usb") return "USB";
  int c = machine.ControllerOf(drive);
  if (c >= 0) return machine.Controllers()[static_cast<size_t>(c)].type == "scsi" ? "SCSI" : "IDE";
  return drive.Bus() == "sata" ? "IDE" : "SCSI";
}

void DeclareClasses(ObjectModel& m) {
  for (const char* c : {"Win32_DiskDrive", "Win32_LogicalDisk", "Win32_PnPEntity",
                        "Win32_IDEController", "Win32_SCSIController", "Win32_PnPSignedDriver",
                        "Win32_Processor"})
    m.DeclareClass(c, "DeviceID");
  m.DeclareClass("Win32_OperatingSystem", "Name");
  m.DeclareClass("Win32_ComputerSystem", "Name");
  m.DeclareClass("Win32_BaseBoard", "Tag");
  m.DeclareClass("Win32_BIOS", "Name");
  m.DeclareClass("Win32_PhysicalMemory", "Tag");
  m.DeclareAssociation("Win32_IDEControllerDevice", {"Antecedent", "Dependent"});
  m.DeclareAssociation("Win32_SCSIControllerDevice", {"Antecedent", "Dependent"});
  m.DeclareAssociation("Win32_PnPDevice", {"SameElement", "SystemElement"});
}

void AddSystemObjects(ObjectModel& m, const SimSystemInfo& s) {
  bool wide = s.addressWidth == 64;
  {
    Object o("Win32_OperatingSystem");
    o.Set("Name", Variant::Bstr(s.osName));
    o.Set("Caption", Variant::Bstr(s.osName.substr(0, s.osName.find('|'))));
    o.Set("Version", Variant::Bstr(s.osVersion));
    o.Set("OSArchitecture", Variant::Bstr(wide ? "64-bit" : "32-bit"));
    o.Set("CSName", Variant::Bstr(s.computerName));
    m.Add(std::move(o));
  }
  for (int i = 0; i < s.processors; ++i) {
    Object o("Win32_Processor");
    o.Set("DeviceID", Variant::Bstr("CPU" + std::to_string(i)));
    o.Set("Name", Variant::Bstr(s.processor));
    o.Set("AddressWidth", Variant::I4(s.addressWidth));
    o.Set("DataWidth", Variant::I4(s.addressWidth));
    o.Set("Manufacturer", Variant::Bstr(Contains(s.processor, "AMD")     ? "AuthenticAMD"
                                        : Contains(s.processor, "Intel") ? "GenuineIntel"
                                                                         : ""));
    m.Add(std::move(o));
  }
  {
    Object o("Win32_ComputerSystem");
    o.Set("Name", Variant::Bstr(s.computerName));
    o.Set("TotalPhysicalMemory", Variant::Bstr(s.totalMemory));
    o.Set("Manufacturer", Variant::Bstr(s.boardManufacturer));
    o.Set("Model", Variant::Bstr(s.boardProduct));
    o.Set("SystemType", Variant::Bstr(wide ? "x64-based PC" : "X86-based PC"));
    m.Add(std::move(o));
  }
  {
    Object o("Win32_BaseBoard");
    o.Set("Tag", Variant::Bstr("Base Board"));
    o.Set("Manufacturer", Variant::Bstr(s.boardManufacturer));
    o.Set("Product", Variant::Bstr(s.boardProduct));
    m.Add(std::move(o));
  }
  {
    Object o("Win32_BIOS");
    o.Set("Name", Variant::Bstr("BIOS Date: " + s.biosVersion));
    o.Set("SMBIOSBIOSVersion", Variant::Bstr(s.biosVersion));
    o.Set("Manufacturer", Variant::Bstr(s.biosManufacturer));
    o.Set("Version", Variant::Bstr(s.biosVersion));
    m.Add(std::move(o));
  }
  for (size_t i = 0; i < s.modules.size(); ++i) {
    const SimMemoryModule& mod = s.modules[i];
    Object o("Win32_PhysicalMemory");
    o.Set("Tag", Variant::Bstr("Physical Memory " + std::to_string(i)));
    o.Set("DeviceLocator", mod.deviceLocator);
    o.Set("BankLabel", mod.bankLabel);
    o.Set("Manufacturer", mod.manufacturer);
    o.Set("Capacity", mod.capacity);
    o.Set("Speed", mod.speed);
    o.Set("MemoryType", mod.memoryType);
    o.Set("PartNumber", mod.partNumber);
    m.Add(std::move(o));
  }
}

void AddControllerObjects(ObjectModel& m, const SimMachine& machine) {
  for (const SimController& c : machine.Controllers()) {
    bool scsi = c.type == "scsi";
    Object ctl(ControllerClass(c));
    ctl.Set("Name", Variant::Bstr(c.name));
    ctl.Set("Caption", Variant::Bstr(c.name));
    ctl.Set("Description", Variant::Bstr(c.name));
    ctl.Set("DeviceID", Variant::Bstr(c.deviceId));
    ctl.Set("PNPDeviceID", Variant::Bstr(c.deviceId));
    ctl.Set("Manufacturer", Variant::Bstr(scsi ? "(Standard Storage Controllers)"
                                               : "(Standard IDE ATA/ATAPI controllers)"));
    ctl.Set("Status", Variant::Bstr("OK"));
    m.Add(std::move(ctl));

    Object entity("Win32_PnPEntity");
    entity.Set("DeviceID", Variant::Bstr(c.deviceId));
    entity.Set("PNPDeviceID", Variant::Bstr(c.deviceId));
    entity.Set("Name", Variant::Bstr(c.name));
    entity.Set("Caption", Variant::Bstr(c.name));
    entity.Set("HardwareID", Variant::BstrArray(c.hardwareIds));
    entity.Set("PNPClass", Variant::Bstr(scsi ? "SCSIAdapter" : "HDC"));
    entity.Set("ClassGuid", Variant::Bstr(scsi ? kScsiAdapterClassGuid : kHdcClassGuid));
    entity.Set("Status", Variant::Bstr("OK"));
    m.Add(std::move(entity));

    Object same("Win32_PnPDevice");
    same.Set("SameElement", Variant::Bstr(m.PathOf("Win32_PnPEntity", c.deviceId)));
    same.Set("SystemElement", Variant::Bstr(m.PathOf(ControllerClass(c), c.deviceId)));
    m.Add(std::move(same));

    if (c.hasDriver) {
      Object driver("Win32_PnPSignedDriver");
      driver.Set("DeviceID", Variant::Bstr(c.deviceId));
      driver.Set("DeviceName", Variant::Bstr(c.name));
      driver.Set("DriverProviderName", Variant::Bstr(c.driverProvider));
      driver.Set("DriverVersion", Variant::Bstr(c.driverVersion));
      driver.Set("HardWareID",
                 Variant::Bstr(c.hardwareIds.empty() ? c.deviceId : c.hardwareIds.front()));
      driver.Set("DeviceClass", Variant::Bstr(scsi ? "SCSIADAPTER" : "HDC"));
      m.Add(std::move(driver));
    }
  }
}

void AddDiskObjects(ObjectModel& m, const SimMachine& machine) {
  for (const auto& d : machine.Drives()) {
    if (!d->Present()) continue;
    bool listed = BoolOr(d->Spec(), "inventory", true, d->Where());
    std::string deviceId = DiskDriveDeviceId(d->Index());
    if (listed) {
      Object disk("Win32_DiskDrive");
      disk.Set("Index", Variant::I4(d->Index()));
      disk.Set("DeviceID", Variant::Bstr(deviceId));
      disk.Set("InterfaceType", Variant::Bstr(InterfaceTypeOf(machine, *d)));
      disk.Set("Model", Variant::Bstr(d->Model()));
      disk.Set("Caption", Variant::Bstr(d->Model()));
      disk.Set("Size", Variant::Bstr(std::to_string(d->SizeBytes())));
      disk.Set("PNPDeviceID", Variant::Bstr(d->PnpDeviceId()));
      disk.Set("SerialNumber", Variant::Bstr(d->Serial()));
      disk.Set("FirmwareRevision", Variant::Bstr(d->Firmware()));
      disk.Set("MediaType", Variant::Bstr(d->Bus() == "usb" ? "External hard disk media"
                                                            : "Fixed hard disk media"));
      disk.Set("BytesPerSector", Variant::I4(512));
      disk.Set("Status", Variant::Bstr("OK"));
      m.Add(std::move(disk));
    }

    const std::string& pnp = d->PnpDeviceId();
    Object entity("Win32_PnPEntity");
    entity.Set("DeviceID", Variant::Bstr(pnp));
    entity.Set("PNPDeviceID", Variant::Bstr(pnp));
    entity.Set("Name", Variant::Bstr(d->Model()));
    entity.Set("Caption", Variant::Bstr(d->Model()));
    size_t cut = pnp.rfind('\\');
    entity.Set("HardwareID",
               Variant::BstrArray({cut == std::string::npos ? pnp : pnp.substr(0, cut), "GenDisk"}));
    entity.Set("PNPClass", Variant::Bstr("DiskDrive"));
    entity.Set("ClassGuid", Variant::Bstr(kDiskClassGuid));
    entity.Set("Manufacturer", Variant::Bstr("(Standard disk drives)"));
    entity.Set("Service", Variant::Bstr("disk"));
    entity.Set("Status", Variant::Bstr("OK"));
    m.Add(std::move(entity));

    if (listed) {
      Object same("Win32_PnPDevice");
      same.Set("SameElement", Variant::Bstr(m.PathOf("Win32_PnPEntity", pnp)));
      same.Set("SystemElement", Variant::Bstr(m.PathOf("Win32_DiskDrive", deviceId)));
      m.Add(std::move(same));
    }

    Object driver("Win32_PnPSignedDriver");
    driver.Set("DeviceID", Variant::Bstr(pnp));
    driver.Set("DeviceName", Variant::Bstr(d->Model()));
    driver.Set("DriverProviderName", Variant::Bstr("Microsoft"));
    driver.Set("DriverVersion", Variant::Bstr("10.0.19041.1"));
    driver.Set("DeviceClass", Variant::Bstr("DISKDRIVE"));
    m.Add(std::move(driver));

    int c = machine.ControllerOf(*d);
    if (c >= 0) {
      const SimController& ctl = machine.Controllers()[static_cast<size_t>(c)];
      Object link(ControllerAssociation(ctl));
      link.Set("Antecedent", Variant::Bstr(m.PathOf(ControllerClass(ctl), ctl.deviceId)));
      link.Set("Dependent", Variant::Bstr(m.PathOf("Win32_PnPEntity", pnp)));
      m.Add(std::move(link));
    }
  }
}

void AddVolumeObjects(ObjectModel& m, const SimMachine& machine) {
  for (const SimVolume& v : machine.Volumes()) {
    bool cd = v.deviceType == FILE_DEVICE_CD_ROM;
    bool media = !cd || v.sizeBytes > 0;
    std::string name = v.letter + ":";
    Object o("Win32_LogicalDisk");
    o.Set("DeviceID", Variant::Bstr(name));
    o.Set("Name", Variant::Bstr(name));
    o.Set("Caption", Variant::Bstr(name));
    o.Set("DriveType", Variant::I4(cd ? 5 : 3));
    o.Set("Description", Variant::Bstr(cd ? "CD-ROM Disc" : "Local Fixed Disk"));
    o.Set("FileSystem", media ? Variant::Bstr(v.fileSystem) : Variant::Null());
    o.Set("Size", media ? Variant::Bstr(std::to_string(v.sizeBytes)) : Variant::Null());
    o.Set("FreeSpace", media ? Variant::Bstr(std::to_string(v.freeBytes)) : Variant::Null());
    o.Set("VolumeName", Variant::Bstr(TextOr(v.spec, "label", "", "volumes")));
    m.Add(std::move(o));
  }
}

// ---- The "wmi" section ---------------------------------------------------------

bool ObjectMatches(const Object& o, const Json& where, const ObjectModel& model,
                   const std::string& at) {
  for (auto it = where.begin(); it != where.end(); ++it) {
    const Variant* v = o.Find(it.key());
    if (!v) return false;
    Variant wanted = ToVariant(*it, model, at + "." + it.key());
    std::optional<std::string> have = wql::ComparableText(*v);
    std::optional<std::string> want = wql::ComparableText(wanted);
    if (have && want) {
      if (!EqualsNoCaseAscii(*have, *want)) return false;
    } else if (!(*v == wanted)) {
      return false;
    }
  }
  return true;
}

void ApplyWmiSection(ObjectModel& m, const Json& wmi) {
  CheckKeys(wmi, {"objects", "override", "faults", "comment"}, "wmi");
  if (wmi.contains("objects")) {
    const Json& list = wmi["objects"];
    if (!list.is_array()) throw FixtureError("wmi.objects: expected a list");
    for (size_t i = 0; i < list.size(); ++i) {
      std::string where = "wmi.objects[" + std::to_string(i) + "]";
      const Json& spec = list[i];
      CheckKeys(spec, {"class", "properties", "comment"}, where);
      std::string cls = TextOr(spec, "class", "", where);
      if (cls.empty()) throw FixtureError(where + ".class: required");
      Object o(m.FindClass(cls) ? m.FindClass(cls)->name : cls);
      if (spec.contains("properties")) {
        const Json& props = spec["properties"];
        if (!props.is_object()) throw FixtureError(where + ".properties: expected an object");
        for (auto it = props.begin(); it != props.end(); ++it)
          o.Set(it.key(), ToVariant(*it, m, where + ".properties." + it.key()));
      }
      m.Add(std::move(o));
    }
  }
  if (wmi.contains("override")) {
    const Json& list = wmi["override"];
    if (!list.is_array()) throw FixtureError("wmi.override: expected a list");
    for (size_t i = 0; i < list.size(); ++i) {
      std::string where = "wmi.override[" + std::to_string(i) + "]";
      const Json& spec = list[i];
      CheckKeys(spec, {"class", "where", "set", "unset", "delete", "comment"}, where);
      std::string cls = TextOr(spec, "class", "", where);
      if (cls.empty()) throw FixtureError(where + ".class: required");
      Json match = spec.value("where", Json::object());
      if (!match.is_object()) throw FixtureError(where + ".where: expected an object");
      if (BoolOr(spec, "delete", false, where)) {
        m.RemoveIf([&](const Object& o) {
          return EqualsNoCaseAscii(o.ClassName(), cls) && ObjectMatches(o, match, m, where + ".where");
        });
        continue;
      }
      // Read the changes first, so a mistake is reported even when no
      // object matches.
      std::vector<std::pair<std::string, Variant>> set;
      if (spec.contains("set")) {
        const Json& list = spec["set"];
        if (!list.is_object()) throw FixtureError(where + ".set: expected an object");
        for (auto it = list.begin(); it != list.end(); ++it)
          set.emplace_back(it.key(), ToVariant(*it, m, where + ".set." + it.key()));
      }
      std::vector<std::string> unset;
      if (spec.contains("unset")) {
        const Json& list = spec["unset"];
        if (!list.is_array()) throw FixtureError(where + ".unset: expected a list of names");
        for (const Json& name : list) {
          if (!name.is_string()) throw FixtureError(where + ".unset: expected a list of names");
          unset.push_back(name.get<std::string>());
        }
      }
      for (Object* o : m.InstancesOf(cls)) {
        if (!ObjectMatches(*o, match, m, where + ".where")) continue;
        for (const auto& [name, value] : set) o->Set(name, value);
        for (const std::string& name : unset) o->Remove(name);
      }
    }
  }
}

wql::CallFault ReadCallFault(const Json& f, const char* key, const std::string& where) {
  wql::CallFault out;
  auto it = f.find(key);
  if (it == f.end()) return out;
  std::string w = where + "." + key;
  if (it->is_object()) {
    CheckKeys(*it, {"error", "skip", "times", "comment"}, w);
    out.error = static_cast<HRESULT>(NumberOr(*it, "error", static_cast<uint32_t>(E_FAIL), w));
    out.skip = static_cast<int>(NumberOr(*it, "skip", 0, w));
    out.times = static_cast<int>(static_cast<int64_t>(NumberOr(*it, "times", -1, w)));
  } else {
    out.error = static_cast<HRESULT>(ToNumber(*it, w));
  }
  if (out.error >= 0) throw FixtureError(w + ": expected a failing HRESULT such as \"0x80004005\"");
  return out;
}

wql::FaultPlan ReadFaults(const Json& root) {
  wql::FaultPlan plan;
  if (!root.contains("wmi")) return plan;
  const Json& wmi = root["wmi"];
  if (!wmi.is_object() || !wmi.contains("faults")) return plan;
  const Json& f = wmi["faults"];
  const std::string where = "wmi.faults";
  CheckKeys(f, {"coInitialize", "locator", "connect", "proxyBlanket", "queries", "comment"}, where);
  plan.coInitialize = ReadCallFault(f, "coInitialize", where);
  plan.createLocator = ReadCallFault(f, "locator", where);
  plan.connectServer = ReadCallFault(f, "connect", where);
  plan.proxyBlanket = ReadCallFault(f, "proxyBlanket", where);
  if (f.contains("queries")) {
    const Json& list = f["queries"];
    if (!list.is_array()) throw FixtureError(where + ".queries: expected a list");
    for (size_t i = 0; i < list.size(); ++i) {
      std::string w = where + ".queries[" + std::to_string(i) + "]";
      const Json& q = list[i];
      CheckKeys(q, {"class", "contains", "effect", "error", "skip", "times", "comment"}, w);
      wql::QueryFault qf;
      qf.className = TextOr(q, "class", "", w);
      qf.contains = TextOr(q, "contains", "", w);
      std::string effect = TextOr(q, "effect", "fail", w);
      if (effect == "fail") {
        qf.effect = wql::QueryFault::Effect::Fail;
      } else if (effect == "noEnumerator") {
        qf.effect = wql::QueryFault::Effect::NoEnumerator;
      } else if (effect == "timeout") {
        qf.effect = wql::QueryFault::Effect::Timeout;
      } else {
        throw FixtureError(w + ".effect: expected \"fail\", \"noEnumerator\" or \"timeout\"");
      }
      qf.error = static_cast<HRESULT>(
          NumberOr(q, "error", static_cast<uint32_t>(WBEM_E_FAILED), w + ".error"));
      if (qf.effect == wql::QueryFault::Effect::Fail && qf.error >= 0)
        throw FixtureError(w + ".error: expected a failing HRESULT such as \"0x80041001\"");
      qf.skip = static_cast<int>(NumberOr(q, "skip", 0, w));
      qf.times = static_cast<int>(static_cast<int64_t>(NumberOr(q, "times", -1, w)));
      plan.queries.push_back(qf);
    }
  }
  return plan;
}

}  // namespace

std::string DiskDriveDeviceId(int32_t index) { return Format("\\\\.\\PHYSICALDRIVE%d", index); }

SimSystemInfo ReadSystemSection(const Json& root) {
  SimSystemInfo s;
  // Two 8 GB modules unless the machine file lists its own.
  for (const char* locator : {"ChannelA-DIMM0", "ChannelB-DIMM0"}) {
    SimMemoryModule mod;
    mod.deviceLocator = Variant::Bstr(locator);
    mod.bankLabel = Variant::Bstr(locator[7] == 'A' ? "BANK 0" : "BANK 2");
    mod.manufacturer = Variant::Bstr("Kingston");
    mod.capacity = Variant::Bstr("8589934592");
    mod.partNumber = Variant::Bstr("KHX2666C16/8G");
    mod.speed = Variant::I4(2666);
    mod.memoryType = Variant::I4(0);
    s.modules.push_back(mod);
  }
  s.totalMemory = "17179869184";
  if (!root.contains("system")) return s;
  const Json& sys = root["system"];
  const std::string where = "system";
  CheckKeys(sys, {"computerName", "osName", "osVersion", "processor", "processors",
                  "addressWidth", "memory", "board", "bios", "modules", "comment"},
            where);
  s.computerName = TextOr(sys, "computerName", s.computerName, where);
  s.osName = TextOr(sys, "osName", s.osName, where);
  s.osVersion = TextOr(sys, "osVersion", s.osVersion, where);
  s.processor = TextOr(sys, "processor", s.processor, where);
  s.processors = static_cast<int>(NumberOr(sys, "processors", 1, where));
  if (s.processors < 0 || s.processors > 64)
    throw FixtureError(where + ".processors: expected 0 to 64");
  s.addressWidth = static_cast<int32_t>(NumberOr(sys, "addressWidth", 64, where));
  if (sys.contains("board")) {
    const Json& b = sys["board"];
    CheckKeys(b, {"manufacturer", "product", "comment"}, where + ".board");
    s.boardManufacturer = TextOr(b, "manufacturer", s.boardManufacturer, where + ".board");
    s.boardProduct = TextOr(b, "product", s.boardProduct, where + ".board");
  }
  if (sys.contains("bios")) {
    const Json& b = sys["bios"];
    CheckKeys(b, {"version", "manufacturer", "comment"}, where + ".bios");
    s.biosVersion = TextOr(b, "version", s.biosVersion, where + ".bios");
    s.biosManufacturer = TextOr(b, "manufacturer", s.biosManufacturer, where + ".bios");
  }
  uint64_t installed = 17179869184ull;
  if (sys.contains("modules")) {
    const Json& list = sys["modules"];
    if (!list.is_array()) throw FixtureError(where + ".modules: expected a list");
    s.modules.clear();
    installed = 0;
    for (size_t i = 0; i < list.size(); ++i) {
      std::string w = where + ".modules[" + std::to_string(i) + "]";
      const Json& m = list[i];
      CheckKeys(m, {"deviceLocator", "bankLabel", "manufacturer", "capacity", "speed",
                    "memoryType", "partNumber", "comment"},
                w);
      SimMemoryModule mod;
      mod.deviceLocator = TextProperty(m, "deviceLocator", "DIMM" + std::to_string(i), w);
      mod.bankLabel = TextProperty(m, "bankLabel", "BANK " + std::to_string(i), w);
      mod.manufacturer = TextProperty(m, "manufacturer", "Kingston", w);
      mod.capacity = TextProperty(m, "capacity", "8589934592", w);
      mod.partNumber = TextProperty(m, "partNumber", "", w);
      mod.speed = IntProperty(m, "speed", 2666, w);
      mod.memoryType = IntProperty(m, "memoryType", 0, w);
      if (mod.capacity.vt == VT_BSTR) {
        try {
          installed += std::stoull(mod.capacity.text);
        } catch (const std::exception&) {
        }
      }
      s.modules.push_back(std::move(mod));
    }
  }
  s.totalMemory = sys.contains("memory") ? ScalarText(sys["memory"], where + ".memory")
                                         : std::to_string(installed);
  return s;
}

std::shared_ptr<ObjectModel> BuildSimObjectModel(const SimMachine& machine) {
  const Json& root = machine.Root();
  SimSystemInfo system = ReadSystemSection(root);
  auto model = std::make_shared<ObjectModel>(system.computerName);
  DeclareClasses(*model);
  AddSystemObjects(*model, system);
  AddControllerObjects(*model, machine);
  AddDiskObjects(*model, machine);
  AddVolumeObjects(*model, machine);
  if (root.contains("wmi")) ApplyWmiSection(*model, root["wmi"]);
  return model;
}

std::unique_ptr<Com> MakeSimCom(SimMachine& machine) {
  std::shared_ptr<const ObjectModel> model = BuildSimObjectModel(machine);
  return std::make_unique<wql::ModelCom>(model, ReadFaults(machine.Root()));
}

}  // namespace zel::sim
