#include "platform/sim/nvme_drive.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "platform/device_io.h"
#include "platform/errors.h"
#include "platform/sim/machine.h"
#include "platform/wire/nvme.h"
#include "platform/wire/nvme_health.h"

namespace zel::sim {

using namespace zel::platform;
using wire::NvmePassThroughIoctl;
using wire::ScsiPassThrough;
using wire::ScsiTunnelBlock;
using wire::StorageProtocolQuery;

namespace {

using u128 = unsigned __int128;

// Identify Controller fields the machine file may name (offset, size).
constexpr size_t kSerialOffset = 4, kSerialSize = 20;
constexpr size_t kModelOffset = 24, kModelSize = 40;
constexpr size_t kFirmwareOffset = 64, kFirmwareSize = 8;

// Health-log counters (16 bytes each) by the names the machine file uses.
struct Counter {
  const char* key;
  size_t offset;
};
using HealthLog = wire::NvmeHealthLog;
constexpr Counter kCounters[] = {
    {"dataUnitsRead", HealthLog::kDataUnitsRead},
    {"dataUnitsWritten", HealthLog::kDataUnitsWritten},
    {"hostReadCommands", HealthLog::kHostReadCommands},
    {"hostWriteCommands", HealthLog::kHostWriteCommands},
    {"controllerBusyTime", HealthLog::kControllerBusyTime},
    {"powerCycles", HealthLog::kPowerCycles},
    {"powerOnHours", HealthLog::kPowerOnHours},
    {"unsafeShutdowns", HealthLog::kUnsafeShutdowns},
    {"mediaErrors", HealthLog::kMediaErrors},
    {"errorLogEntries", HealthLog::kErrorLogEntries},
};

FormMode ParseMode(const Json& forms, const char* key, FormMode fallback, const std::string& where) {
  std::string text = TextOr(forms, key, "", where);
  if (text.empty()) return fallback;
  if (text == "answer") return FormMode::Answer;
  if (text == "absent") return FormMode::Absent;
  if (text == "zeros") return FormMode::Zeros;
  throw FixtureError(where + "." + key + ": expected \"answer\", \"absent\" or \"zeros\"");
}

// A text field of the Identify page: ASCII, padded with blanks.
void PutText(uint8_t* page, size_t offset, size_t size, const std::string& text,
             const std::string& where) {
  if (text.size() > size)
    throw FixtureError(where + ": longer than " + std::to_string(size) + " characters");
  std::memset(page + offset, ' ', size);
  std::memcpy(page + offset, text.data(), text.size());
}

// The text of a field with its trailing blanks and NULs removed.
std::string GetText(const uint8_t* page, size_t offset, size_t size) {
  std::string s(reinterpret_cast<const char*>(page + offset), size);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
  return s;
}

// A 128-bit counter: a JSON number, or a text of decimal digits (or 0x...).
u128 ToCounter(const Json& value, const std::string& where) {
  if (value.is_number_integer() && !value.is_number_unsigned() && value.get<int64_t>() < 0)
    throw FixtureError(where + ": a counter cannot be negative");
  if (!value.is_string()) return ToNumber(value, where);
  std::string s = value.get<std::string>();
  unsigned base = 10;
  size_t start = 0;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    start = 2;
  }
  if (start >= s.size()) throw FixtureError(where + ": expected a number, found \"" + s + "\"");
  u128 v = 0;
  const u128 max = ~static_cast<u128>(0);
  for (size_t i = start; i < s.size(); ++i) {
    char c = s[i];
    unsigned d;
    if (c >= '0' && c <= '9') {
      d = static_cast<unsigned>(c - '0');
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      d = static_cast<unsigned>(c - 'a' + 10);
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      d = static_cast<unsigned>(c - 'A' + 10);
    } else {
      throw FixtureError(where + ": expected a number, found \"" + s + "\"");
    }
    if (v > (max - d) / base) throw FixtureError(where + ": does not fit in 128 bits");
    v = v * base + d;
  }
  return v;
}

void PutLE128(uint8_t* p, u128 v) {
  for (int i = 0; i < 16; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint64_t Bounded(const Json& object, const char* key, uint64_t fallback, uint64_t max,
                 const std::string& where) {
  uint64_t v = NumberOr(object, key, fallback, where);
  if (v > max)
    throw FixtureError(where + "." + key + ": larger than " + std::to_string(max));
  return v;
}

// "bytes": [{"offset": 256, "data": "07 00"}, ...], applied over a page.
void ApplyByteRanges(uint8_t* page, size_t pageSize, const Json& section, const std::string& where) {
  if (!section.contains("bytes")) return;
  const Json& list = section["bytes"];
  std::string w = where + ".bytes";
  if (!list.is_array()) throw FixtureError(w + ": expected a list");
  for (size_t i = 0; i < list.size(); ++i) {
    std::string wi = w + "[" + std::to_string(i) + "]";
    CheckKeys(list[i], {"offset", "data", "comment"}, wi);
    if (!list[i].contains("offset") || !list[i].contains("data"))
      throw FixtureError(wi + ": needs \"offset\" and \"data\"");
    uint64_t offset = ToNumber(list[i]["offset"], wi + ".offset");
    std::vector<uint8_t> data = ToBytes(list[i]["data"], wi + ".data");
    if (offset > pageSize || data.size() > pageSize - offset)
      throw FixtureError(wi + ": runs past the end of the " + std::to_string(pageSize) +
                         "-byte page");
    std::copy(data.begin(), data.end(), page + offset);
  }
}

// A verbatim page, or nothing when the section has none; named fields and a
// verbatim page do not mix.
bool VerbatimPage(uint8_t* page, size_t pageSize, const Json& section,
                  std::initializer_list<const char*> namedFields, const std::string& where) {
  if (!section.contains("page")) return false;
  for (const char* k : namedFields)
    if (section.contains(k))
      throw FixtureError(where + "." + k + ": give either \"page\" or the named fields");
  std::vector<uint8_t> bytes = ToBytes(section["page"], where + ".page");
  if (bytes.size() != pageSize)
    throw FixtureError(where + ".page: expected " + std::to_string(pageSize) + " bytes, found " +
                       std::to_string(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), page);
  return true;
}

// Fills a data area of `capacity` bytes with the answer: the page, nothing
// (zeros) or a part of it (a "short" fault). Returns the bytes answered.
uint32_t FillData(uint8_t* dst, size_t capacity, const uint8_t* page, size_t pageSize, bool zeros,
                  const std::optional<Fault>& fault) {
  std::memset(dst, 0, capacity);
  size_t n = std::min(capacity, pageSize);
  if (fault && fault->effect == FaultEffect::Short) n = std::min<size_t>(n, fault->bytes);
  if (zeros || (fault && fault->effect == FaultEffect::Zeros)) {
    std::memset(dst, 0, n);
  } else {
    std::memcpy(dst, page, n);
  }
  return static_cast<uint32_t>(n);
}

// A fault that makes the request fail outright.
bool Fails(const std::optional<Fault>& fault) {
  return fault && (fault->effect == FaultEffect::Fail || fault->effect == FaultEffect::Abort);
}

// The reply block of a buffered request: it starts as the request's input.
void StartReply(Request& r) {
  size_t n = std::min(r.in.size(), r.out.size());
  if (n && r.out.data() != r.in.data()) std::memmove(r.out.data(), r.in.data(), n);
}

}  // namespace

NvmeDrive::NvmeDrive(SimMachine& machine, const Json& entry, const std::string& where)
    : SimDrive(machine, entry, where) {
  CheckDriveKeys(entry, where, {"identify", "health", "forms", "selfTest"});
  LoadSelfTest(entry, where);

  // Identify Controller page.
  Json id = entry.value("identify", Json::object());
  std::string wid = where + ".identify";
  CheckKeys(id, {"vendorId", "subsystemVendorId", "page", "bytes", "comment"}, wid);
  uint8_t* p = identify_.data();
  if (VerbatimPage(p, kIdentifySize, id, {"vendorId", "subsystemVendorId"}, wid)) {
    if (!entry.contains("model")) model_ = GetText(p, kModelOffset, kModelSize);
    if (!entry.contains("serial")) serial_ = GetText(p, kSerialOffset, kSerialSize);
    if (!entry.contains("firmware")) firmware_ = GetText(p, kFirmwareOffset, kFirmwareSize);
  } else {
    uint16_t vid = static_cast<uint16_t>(Bounded(id, "vendorId", 0x1E4B, 0xFFFF, wid));
    PutLE16(p + 0, vid);
    PutLE16(p + 2, static_cast<uint16_t>(Bounded(id, "subsystemVendorId", vid, 0xFFFF, wid)));
    PutText(p, kSerialOffset, kSerialSize, serial_, where + ".serial");
    PutText(p, kModelOffset, kModelSize, model_, where + ".model");
    PutText(p, kFirmwareOffset, kFirmwareSize, firmware_, where + ".firmware");
    // The rest as a typical controller of NVMe 1.4 reports it.
    p[73] = 0x00; p[74] = 0x4B; p[75] = 0x1E;  // IEEE OUI
    p[77] = 5;                               // MDTS
    PutLE16(p + 78, 1);                      // controller id
    PutLE32(p + 80, 0x00010400);             // version 1.4
    PutLE16(p + 256, 0x0017);                // OACS: security, format, firmware, self-test
    p[258] = 3;                              // ACL
    p[259] = 7;                              // AERL
    p[260] = 0x14;                           // FRMW: 2 slots, activation without reset
    p[261] = 0x02;                           // LPA
    p[262] = 63;                             // ELPE
    p[263] = 4;                              // NPSS: five power states
    p[264] = 1;                              // AVSCC
    PutLE16(p + 266, 358);                   // warning composite temperature, K
    PutLE16(p + 268, 363);                   // critical composite temperature, K
    p[512] = 0x66;                           // SQES
    p[513] = 0x44;                           // CQES
    PutLE32(p + 516, 1);                     // NN
    PutLE16(p + 520, 0x005F);                // ONCS
    p[525] = 1;                              // VWC
    const uint16_t maxPower[5] = {900, 700, 500, 50, 5};  // centiwatts
    const uint32_t latency[5] = {0, 0, 0, 2000, 20000};   // microseconds
    for (int d = 0; d < 5; ++d) {
      uint8_t* psd = p + 2048 + 32 * d;
      PutLE16(psd + 0, maxPower[d]);
      psd[3] = d >= 3 ? 0x03 : 0x00;         // non-operational states
      PutLE32(psd + 4, latency[d]);
      PutLE32(psd + 8, latency[d] * 2);
      psd[12] = psd[13] = psd[14] = psd[15] = static_cast<uint8_t>(d);
    }
  }
  ApplyByteRanges(p, kIdentifySize, id, wid);

  // SMART / Health Information log.
  Json h = entry.value("health", Json::object());
  std::string wh = where + ".health";
  CheckKeys(h, {"criticalWarning", "temperature", "availableSpare", "availableSpareThreshold",
                "percentageUsed", "dataUnitsRead", "dataUnitsWritten", "hostReadCommands",
                "hostWriteCommands", "controllerBusyTime", "powerCycles", "powerOnHours",
                "unsafeShutdowns", "mediaErrors", "errorLogEntries", "page", "bytes", "comment"},
            wh);
  uint8_t* l = health_.data();
  if (!VerbatimPage(l, kHealthLogSize, h,
                    {"criticalWarning", "temperature", "availableSpare", "availableSpareThreshold",
                     "percentageUsed", "dataUnitsRead", "dataUnitsWritten", "hostReadCommands",
                     "hostWriteCommands", "controllerBusyTime", "powerCycles", "powerOnHours",
                     "unsafeShutdowns", "mediaErrors", "errorLogEntries"},
                    wh)) {
    l[HealthLog::kCriticalWarning] = static_cast<uint8_t>(Bounded(h, "criticalWarning", 0, 0xFF, wh));
    HealthLog::PutCompositeTemperatureKelvin(
        l, static_cast<uint16_t>(Bounded(h, "temperature", 308, 0xFFFF, wh)));
    l[HealthLog::kAvailableSpare] = static_cast<uint8_t>(Bounded(h, "availableSpare", 100, 0xFF, wh));
    l[HealthLog::kAvailableSpareThreshold] =
        static_cast<uint8_t>(Bounded(h, "availableSpareThreshold", 10, 0xFF, wh));
    l[HealthLog::kPercentageUsed] = static_cast<uint8_t>(Bounded(h, "percentageUsed", 0, 0xFF, wh));
    for (const Counter& c : kCounters)
      if (h.contains(c.key)) PutLE128(l + c.offset, ToCounter(h[c.key], wh + "." + c.key));
  }
  ApplyByteRanges(l, kHealthLogSize, h, wh);

  // The request forms the drive's driver offers.
  Json forms = entry.value("forms", Json::object());
  std::string wf = where + ".forms";
  CheckKeys(forms, {"storageQuery", "miniport", "shortMiniport", "tunnel", "comment"}, wf);
  forms_.storageQuery = ParseMode(forms, "storageQuery", FormMode::Answer, wf);
  forms_.miniport = ParseMode(forms, "miniport", FormMode::Absent, wf);
  forms_.shortMiniport = ParseMode(forms, "shortMiniport", FormMode::Absent, wf);
  forms_.tunnel = ParseMode(forms, "tunnel", FormMode::Absent, wf);
}

bool NvmeDrive::Control(Request& r) {
  switch (r.code) {
    case IOCTL_STORAGE_QUERY_PROPERTY:
      return StorageQuery(r);
    case IOCTL_SCSI_GET_ADDRESS:
      return ScsiAddress(r);
    case IOCTL_SCSI_PASS_THROUGH:
      return Tunnel(r);
    case IOCTL_STORAGE_PROTOCOL_COMMAND:
      return ProtocolCommand(r);
    default:
      return SimDrive::Control(r);  // the device number; anything else is not for an NVMe disk
  }
}

bool NvmeDrive::AdapterControl(Request& r) {
  if (r.code == IOCTL_SCSI_MINIPORT) return Miniport(r);
  return SimDrive::AdapterControl(r);
}

// IOCTL_STORAGE_QUERY_PROPERTY with the NVMe protocol-specific property.
bool NvmeDrive::StorageQuery(Request& r) {
  using Q = StorageProtocolQuery;
  using P = wire::StorageProtocolSpecificData;
  if (r.in.size() < Q::kAdditionalParameters) return FailWith(ERROR_INVALID_PARAMETER);
  uint32_t property = GetLE32(r.in.data() + Q::kPropertyId);
  if (property != wire::StorageAdapterProtocolSpecificProperty &&
      property != wire::StorageDeviceProtocolSpecificProperty)
    return FailWith(ERROR_INVALID_FUNCTION);  // a property this disk does not describe
  if (r.in.size() < Q::kDataOffset) return FailWith(ERROR_INVALID_PARAMETER);
  Q q = Q::Decode(r.in.data());
  const P& pd = q.Protocol;

  int64_t opcode = pd.DataType == wire::NVMeDataTypeIdentify  ? wire::NVME_ADMIN_COMMAND_IDENTIFY
                   : pd.DataType == wire::NVMeDataTypeLogPage ? wire::NVME_ADMIN_COMMAND_GET_LOG_PAGE
                                                              : -1;
  std::optional<Fault> fault = TakeFault("storage_query", -1, -1, opcode);
  if (Fails(fault)) return FailWith(fault->error);
  if (forms_.storageQuery == FormMode::Absent) return FailWith(ERROR_INVALID_FUNCTION);
  if (q.QueryType != wire::PropertyStandardQuery) return FailWith(ERROR_INVALID_PARAMETER);
  if (pd.ProtocolType != wire::ProtocolTypeNvme) return FailWith(ERROR_NOT_SUPPORTED);

  const uint8_t* page = nullptr;
  std::array<uint8_t, kHealthLogSize> healthNow{};
  size_t pageSize = 0;
  if (pd.DataType == wire::NVMeDataTypeIdentify) {
    if (pd.ProtocolDataRequestValue != wire::NVME_IDENTIFY_CNS_CONTROLLER ||
        pd.ProtocolDataRequestSubValue != 0)
      return FailWith(ERROR_INVALID_PARAMETER);
    page = identify_.data();
    pageSize = kIdentifySize;
  } else if (pd.DataType == wire::NVMeDataTypeLogPage) {
    if (pd.ProtocolDataRequestValue != wire::NVME_LOG_PAGE_HEALTH_INFO ||
        pd.ProtocolDataRequestSubValue != wire::NVME_NAMESPACE_ALL)
      return FailWith(ERROR_INVALID_PARAMETER);
    healthNow = HealthNow();
    page = healthNow.data();
    pageSize = kHealthLogSize;
  } else {
    return FailWith(ERROR_NOT_SUPPORTED);
  }
  if (pd.FixedProtocolReturnData != 0 || pd.ProtocolDataRequestSubValue2 != 0 ||
      pd.ProtocolDataRequestSubValue3 != 0 || pd.ProtocolDataRequestSubValue4 != 0)
    return FailWith(ERROR_INVALID_PARAMETER);
  // The data area lies after the protocol data, inside the reply buffer, and
  // holds at least the whole page.
  uint64_t dataStart = uint64_t{Q::kAdditionalParameters} + pd.ProtocolDataOffset;
  if (pd.ProtocolDataOffset < P::kSize || pd.ProtocolDataLength < pageSize)
    return FailWith(ERROR_INVALID_PARAMETER);
  if (dataStart + pd.ProtocolDataLength > r.out.size()) return FailWith(ERROR_INSUFFICIENT_BUFFER);

  StartReply(r);
  uint32_t answered = FillData(r.out.data() + dataStart, pd.ProtocolDataLength, page, pageSize,
                               forms_.storageQuery == FormMode::Zeros, fault);
  wire::StorageProtocolDataDescriptor d;
  d.Protocol = pd;
  d.Protocol.ProtocolDataLength = answered;
  d.Encode(r.out.data());
  *r.returned = static_cast<uint32_t>(dataStart + answered);
  return true;
}

// IOCTL_SCSI_GET_ADDRESS: the port the disk's adapter has.
bool NvmeDrive::ScsiAddress(Request& r) {
  if (auto f = TakeFault("scsi_address"); Fails(f)) return FailWith(f->error);
  if (r.out.size() < wire::ScsiAddress::kSize) return FailWith(ERROR_INSUFFICIENT_BUFFER);
  wire::ScsiAddress a;
  a.PortNumber = static_cast<uint8_t>(scsiPort_);
  a.Encode(r.out.data());
  *r.returned = wire::ScsiAddress::kSize;
  return true;
}

namespace {

// Fixed-format sense data of a failed SCSI command.
constexpr uint8_t kSenseIllegalRequest = 0x05;
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscInvalidFieldInCdb = 0x24;
constexpr uint8_t kAscInvalidFieldInParameters = 0x26;
constexpr uint8_t kAscCommandSequenceError = 0x2C;

constexpr uint8_t kTunnelSendCdb[10] = {0xB5, 0xFE, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x00, 0x40};
constexpr uint8_t kTunnelReceiveCdb[10] = {0xA2, 0xFE, 0x00, 0x06, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00};

bool CdbIs(const uint8_t* cdb, const uint8_t (&expected)[10]) {
  return std::memcmp(cdb, expected, 10) == 0 && AllZero(cdb + 10, 6);
}

}  // namespace

// IOCTL_SCSI_PASS_THROUGH: the vendor tunnel, a SECURITY PROTOCOL OUT that
// names the health log followed by a SECURITY PROTOCOL IN that returns it.
// Like a real disk, a command it does not take completes with CHECK
// CONDITION and sense data while the request itself succeeds.
bool NvmeDrive::Tunnel(Request& r) {
  using S = ScsiPassThrough;
  // The reply is written into the output, so it must hold the whole
  // structure too.
  S s;
  if (uint32_t error = wire::CheckScsiPassThrough(r.in.data(), r.in.size(), r.out.size(), &s))
    return FailWith(error);
  const uint64_t dataEnd = uint64_t{s.DataBufferOffset} + s.DataTransferLength;

  std::optional<Fault> fault = TakeFault("scsi_pass_through", s.Cdb[0]);
  if (Fails(fault)) return FailWith(fault->error);

  // The data the request carries, read before the reply overwrites it.
  std::vector<uint8_t> dataOut;
  if (s.DataIn == wire::SCSI_IOCTL_DATA_OUT && s.DataTransferLength)
    dataOut.assign(r.in.begin() + s.DataBufferOffset, r.in.begin() + static_cast<long>(dataEnd));

  StartReply(r);
  uint8_t* out = r.out.data();
  auto finish = [&](uint8_t status, uint32_t transferred) {
    s.ScsiStatus = status;
    s.DataTransferLength = transferred;
    s.Encode(out);
    uint64_t end = S::kSize;
    if (s.SenseInfoLength) end = std::max(end, uint64_t{s.SenseInfoOffset} + s.SenseInfoLength);
    if (s.DataIn == wire::SCSI_IOCTL_DATA_IN && transferred)
      end = std::max(end, uint64_t{s.DataBufferOffset} + transferred);
    *r.returned = static_cast<uint32_t>(end);
    return true;
  };
  auto checkCondition = [&](uint8_t asc) {
    uint8_t sense[18] = {};
    sense[0] = 0x70;
    sense[2] = kSenseIllegalRequest;
    sense[7] = 10;
    sense[12] = asc;
    uint8_t n = std::min<uint8_t>(s.SenseInfoLength, sizeof sense);
    if (n) std::memcpy(out + s.SenseInfoOffset, sense, n);
    s.SenseInfoLength = n;
    return finish(wire::SCSISTAT_CHECK_CONDITION, 0);
  };
  auto good = [&](uint32_t transferred) {
    s.SenseInfoLength = 0;
    return finish(wire::SCSISTAT_GOOD, transferred);
  };

  const uint8_t op = s.Cdb[0];
  if (op != wire::SCSIOP_SECURITY_PROTOCOL_OUT && op != wire::SCSIOP_SECURITY_PROTOCOL_IN)
    return checkCondition(kAscInvalidOpcode);
  if (forms_.tunnel == FormMode::Absent) return checkCondition(kAscInvalidFieldInCdb);

  if (op == wire::SCSIOP_SECURITY_PROTOCOL_OUT) {
    tunnelArmed_ = false;
    if (!CdbIs(s.Cdb, kTunnelSendCdb) || s.DataIn != wire::SCSI_IOCTL_DATA_OUT ||
        s.DataTransferLength != ScsiTunnelBlock::kDataSize)
      return checkCondition(kAscInvalidFieldInCdb);
    // The request names the health log (2) of every namespace.
    bool names = dataOut[0] == 2 && AllZero(dataOut.data() + 1, 3) && dataOut[4] == 0xFF &&
                 dataOut[5] == 0xFF && dataOut[6] == 0xFF && dataOut[7] == 0xFF &&
                 AllZero(dataOut.data() + 8, dataOut.size() - 8);
    if (!names) return checkCondition(kAscInvalidFieldInParameters);
    tunnelArmed_ = true;
    return good(s.DataTransferLength);
  }

  if (!CdbIs(s.Cdb, kTunnelReceiveCdb) || s.DataIn != wire::SCSI_IOCTL_DATA_IN ||
      s.DataTransferLength != ScsiTunnelBlock::kDataSize)
    return checkCondition(kAscInvalidFieldInCdb);
  if (!tunnelArmed_.exchange(false)) return checkCondition(kAscCommandSequenceError);
  uint32_t n = FillData(out + s.DataBufferOffset, s.DataTransferLength, health_.data(),
                        kHealthLogSize, forms_.tunnel == FormMode::Zeros, fault);
  return good(n);
}

// IOCTL_SCSI_MINIPORT on the adapter: the "NvmeMini" pass-through.
bool NvmeDrive::Miniport(Request& r) {
  using B = NvmePassThroughIoctl;
  using H = wire::SrbIoControl;
  // No miniport of this adapter takes another signature or control code.
  H srb;
  if (uint32_t error = wire::CheckNvmeMiniportHeader(r.in.data(), r.in.size(), r.out.size(), &srb))
    return FailWith(error);
  if (r.in.size() < B::kDataBuffer) return FailWith(ERROR_INVALID_PARAMETER);
  B b = B::Decode(r.in.data());

  // The community driver's long form sends no data; the short variant's
  // driver expects a data-out length of 1.
  bool shortForm;
  if (b.DataBufferLength == 0) {
    shortForm = false;
  } else if (b.DataBufferLength == 1) {
    shortForm = true;
  } else {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  std::optional<Fault> fault =
      TakeFault(shortForm ? "short_miniport" : "miniport", -1, -1, b.Command.Opcode);
  if (Fails(fault)) return FailWith(fault->error);
  FormMode mode = shortForm ? forms_.shortMiniport : forms_.miniport;
  if (mode == FormMode::Absent) return FailWith(ERROR_INVALID_FUNCTION);

  const uint32_t block = static_cast<uint32_t>(r.in.size());
  if (srb.Length != block - H::kSize || r.out.size() != block || b.ReturnBufferLength != block ||
      b.Direction != wire::NVME_FROM_DEV_TO_HOST || b.QueueId != 0 || b.MetaDataLength != 0 ||
      !b.VendorSpecificZero)
    return FailWith(ERROR_INVALID_PARAMETER);

  const wire::NvmeCommand& c = b.Command;
  if (c.FusedOperation != 0 || c.Psdt != 0 || c.Cdw0Reserved != 0 || c.CommandId != 0 ||
      c.Cdw2 || c.Cdw3 || c.Mptr || c.Prp1 || c.Prp2 || c.Cdw11 || c.Cdw12 || c.Cdw13 || c.Cdw14 ||
      c.Cdw15)
    return FailWith(ERROR_INVALID_PARAMETER);
  const uint8_t* page = nullptr;
  std::array<uint8_t, kHealthLogSize> healthNow{};
  size_t pageSize = 0;
  if (c.Opcode == wire::NVME_ADMIN_COMMAND_IDENTIFY && c.Nsid == 0 &&
      c.Cdw10 == wire::NVME_IDENTIFY_CNS_CONTROLLER) {
    page = identify_.data();
    pageSize = kIdentifySize;
  } else if (c.Opcode == wire::NVME_ADMIN_COMMAND_GET_LOG_PAGE && c.Nsid == wire::NVME_NAMESPACE_ALL &&
             c.Cdw10 == 0x007F0002u) {  // log 0x02, 128 dwords
    healthNow = HealthNow();
    page = healthNow.data();
    pageSize = kHealthLogSize;
  } else {
    return FailWith(ERROR_INVALID_PARAMETER);
  }
  // The long form transfers the whole page; the short variant one 512-byte
  // block (the first 512 bytes of an Identify page).
  const uint32_t dataArea = block - B::kDataBuffer;
  if (shortForm) {
    if (dataArea != 512) return FailWith(ERROR_INVALID_PARAMETER);
    pageSize = 512;
  } else if (dataArea < pageSize) {
    return FailWith(ERROR_INVALID_PARAMETER);
  }

  StartReply(r);
  uint8_t* out = r.out.data();
  FillData(out + B::kDataBuffer, dataArea, page, pageSize, mode == FormMode::Zeros, fault);
  wire::NvmeCompletion done;  // success, command id 0 on the admin queue
  done.Encode(out + B::kCompletion);
  PutLE32(out + H::kReturnCode, 0);
  *r.returned = block;
  return true;
}

std::shared_ptr<SimDrive> MakeNvmeDrive(SimMachine& machine, const Json& entry,
                                        const std::string& where) {
  return std::make_shared<NvmeDrive>(machine, entry, where);
}

}  // namespace zel::sim
