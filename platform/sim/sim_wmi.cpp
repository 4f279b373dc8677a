// Management instrumentation of the simulated machine: the object model
// described by the machine file, served through the WQL engine.
#include "platform/sim/sim_wmi.h"

#include <limits>

#include "platform/sim/machine.h"
#include "platform/text.h"
#include "platform/wql/model_com.h"
#include "platform/wql/storage_objects.h"
#include "platform/wql/system_objects.h"

namespace zel::sim {

using namespace zel::platform;
using wql::Object;
using wql::ObjectModel;

namespace {

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

wql::SystemInventory SystemInventoryOf(const SimSystemInfo& s) {
  wql::SystemInventory inventory;
  inventory.computerName = s.computerName;
  inventory.osName = s.osName;
  inventory.osCaption = s.osName.substr(0, s.osName.find('|'));
  inventory.osVersion = s.osVersion;
  inventory.addressWidth = s.addressWidth;
  inventory.processorCount = s.processors;
  inventory.processor.name = s.processor;
  inventory.processor.manufacturer = Contains(s.processor, "AMD")     ? "AuthenticAMD"
                                     : Contains(s.processor, "Intel") ? "GenuineIntel"
                                                                      : "";
  inventory.totalMemory = Variant::Bstr(s.totalMemory);
  inventory.systemManufacturer = inventory.boardManufacturer = Variant::Bstr(s.boardManufacturer);
  inventory.systemModel = inventory.boardProduct = Variant::Bstr(s.boardProduct);
  inventory.biosName = "BIOS Date: " + s.biosVersion;
  inventory.biosVersion = Variant::Bstr(s.biosVersion);
  inventory.biosManufacturer = Variant::Bstr(s.biosManufacturer);
  for (const SimMemoryModule& mod : s.modules)
    inventory.modules.push_back({mod.deviceLocator, mod.bankLabel, mod.manufacturer, mod.capacity, mod.speed,
                                 mod.memoryType, mod.partNumber, std::nullopt, std::nullopt});
  return inventory;
}

// ---- The storage objects of the machine --------------------------------------

// A drive's interface type: its own field, else USB for a USB drive, else
// after the type of its controller `c` (without one, after its bus).
std::string InterfaceTypeOf(const SimMachine& machine, const SimDrive& drive, int c) {
  std::string given = TextOr(drive.Entry(), "interfaceType", "", drive.Where());
  if (!given.empty()) return given;
  if (drive.Bus() == "usb") return "USB";
  if (c >= 0) return machine.Controllers()[static_cast<size_t>(c)].type == "scsi" ? "SCSI" : "IDE";
  return drive.Bus() == "sata" ? "IDE" : "SCSI";
}

wql::StorageInventory StorageInventoryOf(const SimMachine& machine) {
  wql::StorageInventory inventory;
  for (const SimController& c : machine.Controllers()) {
    wql::StorageInventory::Controller& ctl = inventory.controllers.emplace_back();
    ctl.deviceId = c.deviceId;
    ctl.name = c.name;
    ctl.scsi = c.type == "scsi";
    ctl.hardwareIds = c.hardwareIds;
    ctl.manufacturer = ctl.scsi ? "(Standard Storage Controllers)" : "(Standard IDE ATA/ATAPI controllers)";
    if (c.hasDriver)
      ctl.driver = {c.driverProvider, c.driverVersion, std::nullopt,
                    c.hardwareIds.empty() ? c.deviceId : c.hardwareIds.front()};
  }
  for (const auto& d : machine.Drives()) {
    if (!d->Present()) continue;
    wql::StorageInventory::Disk& disk = inventory.disks.emplace_back();
    disk.controller = machine.ControllerOf(*d);
    disk.index = d->Index();
    disk.pnpDeviceId = d->PnpDeviceId();
    disk.interfaceType = InterfaceTypeOf(machine, *d, disk.controller);
    disk.model = d->Model();
    disk.serial = d->Serial();
    disk.firmware = d->Firmware();
    disk.sizeBytes = d->SizeBytes();
    disk.external = d->Bus() == "usb";
    disk.listed = BoolOr(d->Entry(), "inventory", true, d->Where());
    disk.manufacturer = "(Standard disk drives)";
    disk.service = "disk";
    disk.driverProvider = "Microsoft";
    disk.driverVersion = "10.0.19041.1";
  }
  for (const SimVolume& v : machine.Volumes()) {
    wql::StorageInventory::Volume& volume = inventory.volumes.emplace_back();
    volume.letter = v.letter[0];
    volume.optical = v.deviceType == FILE_DEVICE_CD_ROM;
    // A CD-ROM drive without a disc has no file system and no size.
    if (!volume.optical || v.sizeBytes > 0) {
      volume.fileSystem = v.fileSystem;
      volume.sizeBytes = v.sizeBytes;
      volume.freeBytes = v.freeBytes;
    }
    volume.label = TextOr(v.entry, "label", "", "volumes");
  }
  return inventory;
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
      const Json& entry = list[i];
      CheckKeys(entry, {"class", "properties", "comment"}, where);
      std::string cls = TextOr(entry, "class", "", where);
      if (cls.empty()) throw FixtureError(where + ".class: required");
      Object o(m.FindClass(cls) ? m.FindClass(cls)->name : cls);
      if (entry.contains("properties")) {
        const Json& props = entry["properties"];
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
      const Json& entry = list[i];
      CheckKeys(entry, {"class", "where", "set", "unset", "delete", "comment"}, where);
      std::string cls = TextOr(entry, "class", "", where);
      if (cls.empty()) throw FixtureError(where + ".class: required");
      Json match = entry.value("where", Json::object());
      if (!match.is_object()) throw FixtureError(where + ".where: expected an object");
      if (BoolOr(entry, "delete", false, where)) {
        m.RemoveIf([&](const Object& o) {
          return EqualsNoCaseAscii(o.ClassName(), cls) && ObjectMatches(o, match, m, where + ".where");
        });
        continue;
      }
      // Read the changes first, so a mistake is reported even when no
      // object matches.
      std::vector<std::pair<std::string, Variant>> set;
      if (entry.contains("set")) {
        const Json& list = entry["set"];
        if (!list.is_object()) throw FixtureError(where + ".set: expected an object");
        for (auto it = list.begin(); it != list.end(); ++it)
          set.emplace_back(it.key(), ToVariant(*it, m, where + ".set." + it.key()));
      }
      std::vector<std::string> unset;
      if (entry.contains("unset")) {
        const Json& list = entry["unset"];
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
    out.skip = static_cast<int>(IntegerOr(*it, "skip", 0, 0, INT32_MAX, w));
    out.times = static_cast<int>(IntegerOr(*it, "times", -1, -1, INT32_MAX, w));
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
      qf.skip = static_cast<int>(IntegerOr(q, "skip", 0, 0, INT32_MAX, w));
      qf.times = static_cast<int>(IntegerOr(q, "times", -1, -1, INT32_MAX, w));
      plan.queries.push_back(qf);
    }
  }
  return plan;
}

}  // namespace

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
  s.processors = static_cast<int>(IntegerOr(sys, "processors", 1, 0, 64, where));
  s.addressWidth = static_cast<int32_t>(IntegerOr(sys, "addressWidth", 64, 0, 64, where));
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
  wql::AddSystemObjects(*model, SystemInventoryOf(system));
  wql::AddStorageObjects(*model, StorageInventoryOf(machine));
  if (root.contains("wmi")) ApplyWmiSection(*model, root["wmi"]);
  return model;
}

std::unique_ptr<Com> MakeSimCom(SimMachine& machine) {
  std::shared_ptr<const ObjectModel> model = BuildSimObjectModel(machine);
  return std::make_unique<wql::ModelCom>(model, ReadFaults(machine.Root()));
}

}  // namespace zel::sim
