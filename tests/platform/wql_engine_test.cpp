#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/wql/model_com.h"
#include "platform/wql/object_model.h"
#include "platform/wql/statement.h"

namespace zel::wql {
namespace {

using namespace zel::platform;

constexpr const char* kAhciId = "PCI\\VEN_8086&DEV_A102&SUBSYS_1234&REV_31\\3&11583659&0&B8";
constexpr const char* kNvmeId = "PCI\\VEN_1E4B&DEV_1202&SUBSYS_12021E4B&REV_01\\4&2A1B3C4D&0&00E8";
constexpr const char* kSataPnp = "IDE\\DISKQUARN_SSD_F1\\5&1715004&0&0.0.0";
constexpr const char* kNvmePnp = "SCSI\\DISK&VEN_NVME&PROD_QUARN\\5&1715005&0&1.0.0";

// A machine of two disks: a SATA disk on an AHCI controller and an NVMe disk
// on an NVMe controller, with the objects and associations the platform has.
std::shared_ptr<ObjectModel> SmallModel() {
  auto m = std::make_shared<ObjectModel>("HOST");
  m->DeclareClass("Win32_DiskDrive");
  m->DeclareClass("Win32_PnPEntity");
  m->DeclareClass("Win32_IDEController");
  m->DeclareClass("Win32_SCSIController");
  m->DeclareClass("Win32_BIOS", "Name");
  m->DeclareClass("Win32_PhysicalMemory", "Tag");
  m->DeclareAssociation("Win32_IDEControllerDevice", {"Antecedent", "Dependent"});
  m->DeclareAssociation("Win32_SCSIControllerDevice", {"Antecedent", "Dependent"});
  m->DeclareAssociation("Win32_PnPDevice", {"SameElement", "SystemElement"});

  Object bios("Win32_BIOS");
  bios.Set("Name", Variant::Bstr("BIOS"));
  m->Add(bios);
  struct Disk {
    int index;
    const char* pnp;
    const char* controllerClass;
    const char* controllerId;
    const char* association;
  } disks[] = {{0, kSataPnp, "Win32_IDEController", kAhciId, "Win32_IDEControllerDevice"},
               {1, kNvmePnp, "Win32_SCSIController", kNvmeId, "Win32_SCSIControllerDevice"}};
  for (const Disk& d : disks) {
    Object ctl(d.controllerClass);
    ctl.Set("DeviceID", Variant::Bstr(d.controllerId));
    m->Add(ctl);
    Object entity("Win32_PnPEntity");
    entity.Set("DeviceID", Variant::Bstr(d.pnp));
    m->Add(entity);
    Object disk("Win32_DiskDrive");
    std::string id = "\\\\.\\PHYSICALDRIVE" + std::to_string(d.index);
    disk.Set("DeviceID", Variant::Bstr(id));
    disk.Set("Index", Variant::I4(d.index));
    m->Add(disk);
    Object same("Win32_PnPDevice");
    same.Set("SameElement", Variant::Bstr(m->PathOf("Win32_PnPEntity", d.pnp)));
    same.Set("SystemElement", Variant::Bstr(m->PathOf("Win32_DiskDrive", id)));
    m->Add(same);
    Object link(d.association);
    link.Set("Antecedent", Variant::Bstr(m->PathOf(d.controllerClass, d.controllerId)));
    link.Set("Dependent", Variant::Bstr(m->PathOf("Win32_PnPEntity", d.pnp)));
    m->Add(link);
  }
  return m;
}

std::vector<std::string> Ids(const QueryResult& r) {
  std::vector<std::string> out;
  for (const Object* o : r.objects) {
    const Variant* v = o->Find("DeviceID");
    if (!v) v = o->Find("Name");
    out.push_back(v ? v->text : "?");
  }
  return out;
}

TEST(WqlStatements, SelectFormsAndTheirResults) {
  auto m = SmallModel();
  struct Case {
    std::string statement;
    std::vector<std::string> ids;
  } cases[] = {
      // An empty condition leaves a trailing blank; both spellings work.
      {"SELECT * FROM Win32_BIOS ", {"BIOS"}},
      {"SELECT * FROM Win32_BIOS", {"BIOS"}},
      {"select * from win32_diskdrive WHERE index=1", {"\\\\.\\PHYSICALDRIVE1"}},
      {"SELECT * FROM Win32_DiskDrive WHERE index=7", {}},
      {"SELECT * FROM Win32_DiskDrive WHERE Index = '0'", {"\\\\.\\PHYSICALDRIVE0"}},
      // Identifiers arrive WQL-escaped, in double or single quotes, and compare without case.
      {"SELECT * FROM Win32_IDEController WHERE DeviceId = "
       "\"PCI\\\\VEN_8086&DEV_A102&SUBSYS_1234&REV_31\\\\3&11583659&0&B8\"",
       {kAhciId}},
      {"SELECT * FROM Win32_PnPEntity Where DeviceID = 'ide\\\\diskquarn_ssd_f1\\\\5&1715004&0&0.0.0'",
       {kSataPnp}},
      {"SELECT * FROM Win32_PnPEntity Where DeviceID = \"SCSI\\\\DISK&VEN_NVME&PROD_QUARN\\\\5&1715005&0&1.0.0\"",
       {kNvmePnp}},
      {"SELECT * FROM Win32_PhysicalMemory ", {}},
  };
  for (const Case& c : cases) {
    QueryResult r = Execute(*m, c.statement);
    EXPECT_EQ(r.status, S_OK) << c.statement;
    EXPECT_EQ(Ids(r), c.ids) << c.statement;
  }
}

TEST(WqlStatements, AnythingElseIsAnInvalidQuery) {
  auto m = SmallModel();
  const char* bad[] = {
      "",
      "SELECT Name FROM Win32_BIOS",
      "SELECT * FROM",
      "SELECT * Win32_BIOS",
      "SELECT * FROM Win32_BIOS WHERE",
      "SELECT * FROM Win32_BIOS WHERE Name = BIOS",
      "SELECT * FROM Win32_BIOS WHERE Name = 'BIOS",
      "SELECT * FROM Win32_BIOS WHERE Name = 'BIOS' AND Tag = 'x'",
      "SELECT * FROM Win32_BIOS; DELETE",
      "DELETE FROM Win32_BIOS",
      "ASSOCIATORS OF Win32_DiskDrive",
      "ASSOCIATORS OF {Win32_DiskDrive.DeviceID='x'",
      "ASSOCIATORS OF {Win32_DiskDrive} WHERE ResultClass=Win32_PnPEntity",
      "ASSOCIATORS OF {Win32_DiskDrive.DeviceID='x'} WHERE Role=Dependent",
      "ASSOCIATORS OF {Win32_DiskDrive.DeviceID='x'} WHERE ResultClass=A ResultClass=B",
      "ASSOCIATORS OF {Win32_DiskDrive.DeviceID='x'} WHERE",
  };
  for (const char* s : bad) EXPECT_EQ(Execute(*m, s).status, WBEM_E_INVALID_QUERY) << s;
  EXPECT_EQ(Execute(*m, "SELECT * FROM Win32_Nothing").status, WBEM_E_INVALID_CLASS);
}

TEST(WqlStatements, AssociatorsFollowTheAssociations) {
  auto m = SmallModel();
  // Disk → its device entity → the SCSI controller, as the PCI Express link
  // lookup asks: the first path is written with raw backslashes, the second
  // carries the entity's identifier unescaped.
  QueryResult entity = Execute(
      *m, "ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\\\.\\PhysicalDrive1'} WHERE "
          "ResultClass=Win32_PnPEntity");
  EXPECT_EQ(entity.status, S_OK);
  EXPECT_EQ(Ids(entity), std::vector<std::string>{kNvmePnp});
  QueryResult controller =
      Execute(*m, std::string("ASSOCIATORS OF {Win32_PnPEntity.DeviceID='") + kNvmePnp +
                      "'} WHERE AssocClass=Win32_SCSIControllerDevice");
  EXPECT_EQ(Ids(controller), std::vector<std::string>{kNvmeId});

  // Without a filter every associated object comes, each once.
  QueryResult all = Execute(*m, std::string("ASSOCIATORS OF {Win32_PnPEntity.DeviceID=\"") +
                                    EscapeWql(kSataPnp) + "\"}");
  EXPECT_EQ(Ids(all), (std::vector<std::string>{kAhciId, "\\\\.\\PHYSICALDRIVE0"}));

  // A SATA disk has no SCSI controller: no object, no error.
  QueryResult none = Execute(*m, std::string("ASSOCIATORS OF {Win32_PnPEntity.DeviceID='") +
                                     kSataPnp + "'} WHERE AssocClass=Win32_SCSIControllerDevice");
  EXPECT_EQ(none.status, S_OK);
  EXPECT_EQ(none.deferred, S_OK);
  EXPECT_TRUE(none.objects.empty());

  // A source that does not exist is reported by the enumerator, as the
  // platform reports errors of a semi-synchronous query.
  QueryResult missing = Execute(*m, "ASSOCIATORS OF {Win32_PnPEntity.DeviceID=''} WHERE "
                                    "AssocClass=Win32_SCSIControllerDevice");
  EXPECT_EQ(missing.status, S_OK);
  EXPECT_EQ(missing.deferred, WBEM_E_NOT_FOUND);
}

// Conditions and associations are answered from indexes built on first use;
// a change to the model afterwards is seen by the next statement, and
// several matches come in the order they were added.
TEST(WqlStatements, LookupsFollowChangesToTheModel) {
  auto m = SmallModel();
  const std::string byIndex = "SELECT * FROM Win32_DiskDrive WHERE Index = 007";
  const std::string linked = std::string("ASSOCIATORS OF {Win32_PnPEntity.DeviceID='") +
                             kSataPnp + "'} WHERE AssocClass=Win32_IDEControllerDevice";
  EXPECT_TRUE(Execute(*m, byIndex).objects.empty());
  EXPECT_EQ(Ids(Execute(*m, linked)), std::vector<std::string>{kAhciId});

  for (const char* id : {"\\\\.\\PHYSICALDRIVE7", "\\\\.\\PHYSICALDRIVE7B"}) {
    Object disk("Win32_DiskDrive");
    disk.Set("DeviceID", Variant::Bstr(id));
    disk.Set("Index", Variant::I4(7));
    m->Add(disk);
  }
  Object second("Win32_IDEController");
  second.Set("DeviceID", Variant::Bstr("PCI\\SECOND"));
  m->Add(second);
  Object link("Win32_IDEControllerDevice");
  link.Set("Antecedent", Variant::Bstr(m->PathOf("Win32_IDEController", "PCI\\SECOND")));
  link.Set("Dependent", Variant::Bstr(m->PathOf("Win32_PnPEntity", kSataPnp)));
  m->Add(link);

  EXPECT_EQ(Ids(Execute(*m, byIndex)),
            (std::vector<std::string>{"\\\\.\\PHYSICALDRIVE7", "\\\\.\\PHYSICALDRIVE7B"}));
  EXPECT_EQ(Ids(Execute(*m, linked)), (std::vector<std::string>{kAhciId, "PCI\\SECOND"}));
}

// Classes filled on demand are made by the first statement that needs them,
// once, and no statement makes the classes it does not name: a backend reads
// the memory modules only for a query of memory modules.
TEST(WqlStatements, ClassesFilledOnDemandAreMadeOnceByTheirFirstQuery) {
  auto m = std::make_shared<ObjectModel>("HOST");
  m->DeclareClass("Win32_DiskDrive");
  m->DeclareClass("Win32_PnPEntity");
  m->DeclareClass("Win32_PhysicalMemory", "Tag");
  m->DeclareAssociation("Win32_PnPDevice", {"SameElement", "SystemElement"});
  std::atomic<int> memoryFills{0}, diskFills{0}, entityFills{0};
  m->FillOnDemand({"Win32_PhysicalMemory"}, [&](ObjectModel& model) {
    ++memoryFills;
    Object o("Win32_PhysicalMemory");
    o.Set("Tag", Variant::Bstr("Physical Memory 0"));
    model.Add(o);
  });
  // The association lies with the disks; the entity it names is made by a
  // fill of its own, which resolving the reference runs.
  m->FillOnDemand({"Win32_DiskDrive", "Win32_PnPDevice"}, [&](ObjectModel& model) {
    ++diskFills;
    Object disk("Win32_DiskDrive");
    disk.Set("DeviceID", Variant::Bstr("\\\\.\\PHYSICALDRIVE0"));
    disk.Set("Index", Variant::I4(0));
    model.Add(disk);
    Object same("Win32_PnPDevice");
    same.Set("SameElement", Variant::Bstr(model.PathOf("Win32_PnPEntity", kSataPnp)));
    same.Set("SystemElement", Variant::Bstr(model.PathOf("Win32_DiskDrive", "\\\\.\\PHYSICALDRIVE0")));
    model.Add(same);
  });
  m->FillOnDemand({"Win32_PnPEntity"}, [&](ObjectModel& model) {
    ++entityFills;
    Object entity("Win32_PnPEntity");
    entity.Set("DeviceID", Variant::Bstr(kSataPnp));
    model.Add(entity);
  });

  EXPECT_EQ(Ids(Execute(*m, "SELECT * FROM Win32_DiskDrive WHERE Index = 0")),
            std::vector<std::string>{"\\\\.\\PHYSICALDRIVE0"});
  EXPECT_EQ(diskFills, 1);
  EXPECT_EQ(entityFills, 0);
  EXPECT_EQ(Ids(Execute(*m, "ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\\\.\\PhysicalDrive0'} WHERE "
                            "ResultClass=Win32_PnPEntity")),
            std::vector<std::string>{kSataPnp});
  EXPECT_EQ(entityFills, 1);
  EXPECT_EQ(Execute(*m, "SELECT * FROM Win32_DiskDrive").objects.size(), 1u);
  EXPECT_EQ(diskFills, 1);
  EXPECT_EQ(memoryFills, 0);

  // Two threads asking at once: one fill, both see its objects.
  std::vector<size_t> seen(2);
  std::thread a([&] { seen[0] = Execute(*m, "SELECT * FROM Win32_PhysicalMemory").objects.size(); });
  std::thread b([&] {
    seen[1] = Execute(*m, "SELECT * FROM Win32_PhysicalMemory WHERE Tag = 'Physical Memory 0'").objects.size();
  });
  a.join();
  b.join();
  EXPECT_EQ(seen, (std::vector<size_t>{1, 1}));
  EXPECT_EQ(memoryFills, 1);
}

TEST(WqlObjectPaths, EscapedOnWritingAndReadBack) {
  ObjectModel m("HOST");
  m.DeclareClass("Win32_IDEController");
  std::string path = m.PathOf("Win32_IDEController", kAhciId);
  EXPECT_EQ(path,
            "\\\\HOST\\root\\cimv2:Win32_IDEController.DeviceID="
            "\"PCI\\\\VEN_8086&DEV_A102&SUBSYS_1234&REV_31\\\\3&11583659&0&B8\"");
  std::optional<ObjectPath> p = ParseObjectPath(path);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->className, "Win32_IDEController");
  EXPECT_EQ(p->keyName, "DeviceID");
  EXPECT_EQ(p->value, kAhciId);
  EXPECT_EQ(UnescapeWql(EscapeWql("a\\\"b'")), "a\\\"b'");
  EXPECT_FALSE(ParseObjectPath("Win32_IDEController"));
  EXPECT_FALSE(ParseObjectPath("Win32_IDEController.DeviceID='x' trailing"));
}

// ---- The COM layer -----------------------------------------------------------

struct Connection {
  std::shared_ptr<WbemLocator> locator;
  std::shared_ptr<WbemServices> services;
};

HRESULT Connect(ModelCom& com, Connection* c) {
  HRESULT hr = com.CoInitializeEx(COINIT_MULTITHREADED);
  if (FAILED(hr)) return hr;
  if (FAILED(hr = com.CreateWbemLocator(&c->locator))) return hr;
  if (FAILED(hr = c->locator->ConnectServer("ROOT\\CIMV2", &c->services))) return hr;
  return com.CoSetProxyBlanket(*c->services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE,
                               RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE);
}

TEST(WqlCom, ConnectionQueryAndEnumeration) {
  ModelCom com(SmallModel());
  std::shared_ptr<WbemLocator> early;
  EXPECT_EQ(com.CreateWbemLocator(&early), CO_E_NOTINITIALIZED);

  Connection c;
  ASSERT_EQ(Connect(com, &c), S_OK);
  std::shared_ptr<WbemServices> other;
  EXPECT_EQ(c.locator->ConnectServer("ROOT\\DEFAULT", &other), WBEM_E_INVALID_NAMESPACE);
  std::shared_ptr<EnumWbemClassObject> e;
  EXPECT_EQ(c.services->ExecQuery("SQL", "SELECT * FROM Win32_BIOS", 0x30, &e),
            WBEM_E_INVALID_QUERY_TYPE);
  EXPECT_EQ(c.services->ExecQuery("WQL", "SELECT * FROM Win32_DiskDrive WHERE index=1", 0x30, &e),
            S_OK);
  std::shared_ptr<WbemClassObject> o;
  uint32_t n = 0;
  ASSERT_EQ(e->Next(WBEM_INFINITE, &o, &n), WBEM_S_NO_ERROR);
  ASSERT_EQ(n, 1u);
  Variant v;
  EXPECT_EQ(o->Get("Index", &v), S_OK);
  EXPECT_EQ(v, Variant::I4(1));
  EXPECT_EQ(o->Get("__CLASS", &v), S_OK);
  EXPECT_EQ(v.text, "Win32_DiskDrive");
  EXPECT_EQ(o->Get("NoSuchProperty", &v), WBEM_E_NOT_FOUND);
  EXPECT_EQ(v.vt, VT_EMPTY);
  EXPECT_EQ(e->Next(WBEM_INFINITE, &o, &n), WBEM_S_FALSE);
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(o);

  // A missing association source fails at Next.
  ASSERT_EQ(c.services->ExecQuery("WQL", "ASSOCIATORS OF {Win32_PnPEntity.DeviceID='none'}", 0x30, &e),
            S_OK);
  EXPECT_EQ(e->Next(10000, &o, &n), WBEM_E_NOT_FOUND);
  EXPECT_EQ(com.Statements().size(), 3u);
  com.CoUninitialize();
  EXPECT_EQ(com.ComUsage().openApartments, 0);
}

TEST(WqlCom, ApartmentsAreCountedPerThread) {
  ModelCom com(SmallModel());
  EXPECT_EQ(com.CoInitializeEx(COINIT_MULTITHREADED), S_OK);
  EXPECT_EQ(com.CoInitializeEx(COINIT_MULTITHREADED), S_FALSE);
  EXPECT_EQ(com.CoInitializeEx(0x2 /* apartment-threaded */), RPC_E_CHANGED_MODE);
  std::thread([&] {
    // Another thread has its own apartment.
    EXPECT_EQ(com.CoInitializeEx(COINIT_MULTITHREADED), S_OK);
    com.CoUninitialize();
    com.CoUninitialize();  // one too many
  }).join();
  com.CoUninitialize();
  com.CoUninitialize();
  ModelCom::Usage u = com.ComUsage();
  EXPECT_EQ(u.openApartments, 0);
  EXPECT_EQ(u.unbalancedUninitializeCalls, 1);
}

TEST(WqlCom, InjectedFailures) {
  FaultPlan plan;
  plan.coInitialize = {RPC_E_CHANGED_MODE, 1, 1};  // the second call only
  plan.connectServer = {E_ACCESSDENIED, 2, -1};    // from the third call on
  QueryFault biosFails;
  biosFails.className = "win32_bios";
  biosFails.error = WBEM_E_ACCESS_DENIED;
  QueryFault secondEntityQueryHasNoEnumerator;
  secondEntityQueryHasNoEnumerator.className = "Win32_PnPEntity";
  secondEntityQueryHasNoEnumerator.contains = "WHERE DeviceId";
  secondEntityQueryHasNoEnumerator.effect = QueryFault::Effect::NoEnumerator;
  QueryFault slow;
  slow.className = "Win32_PnPEntity";
  slow.contains = "ASSOCIATORS";
  slow.effect = QueryFault::Effect::Timeout;
  plan.queries = {biosFails, secondEntityQueryHasNoEnumerator, slow};
  ModelCom com(SmallModel(), plan);

  Connection c;
  ASSERT_EQ(Connect(com, &c), S_OK);
  EXPECT_EQ(com.CoInitializeEx(COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
  EXPECT_EQ(com.CoInitializeEx(COINIT_MULTITHREADED), S_FALSE);
  std::shared_ptr<WbemServices> s;
  EXPECT_EQ(c.locator->ConnectServer("ROOT\\CIMV2", &s), S_OK);
  EXPECT_EQ(c.locator->ConnectServer("ROOT\\CIMV2", &s), E_ACCESSDENIED);
  EXPECT_FALSE(s);

  std::shared_ptr<EnumWbemClassObject> e;
  EXPECT_EQ(c.services->ExecQuery("WQL", "SELECT * FROM Win32_BIOS ", 0x30, &e), WBEM_E_ACCESS_DENIED);
  EXPECT_FALSE(e);
  EXPECT_EQ(c.services->ExecQuery("WQL", std::string("SELECT * FROM Win32_PnPEntity Where DeviceID = '") +
                                             kNvmePnp + "'",
                                  0x30, &e),
            S_OK);
  EXPECT_TRUE(e);
  EXPECT_EQ(c.services->ExecQuery("WQL", std::string("SELECT * FROM Win32_PnPEntity WHERE DeviceId = '") +
                                             kNvmePnp + "'",
                                  0x30, &e),
            S_OK);
  EXPECT_FALSE(e);

  // A bounded wait times out; an infinite one still gets the object.
  std::string assoc = "ASSOCIATORS OF {Win32_DiskDrive.DeviceID='\\\\.\\PhysicalDrive0'} WHERE "
                      "ResultClass=Win32_PnPEntity";
  ASSERT_EQ(c.services->ExecQuery("WQL", assoc, 0x30, &e), S_OK);
  std::shared_ptr<WbemClassObject> o;
  uint32_t n = 7;
  EXPECT_EQ(e->Next(10000, &o, &n), WBEM_S_TIMEDOUT);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(e->Next(WBEM_INFINITE, &o, &n), WBEM_S_NO_ERROR);
  EXPECT_EQ(n, 1u);
}

}  // namespace
}  // namespace zel::wql
