// Request layouts of the NVMe request forms, in their 32-bit byte form:
//
// - the protocol-specific storage query: STORAGE_PROPERTY_QUERY whose
//   additional parameters are a STORAGE_PROTOCOL_SPECIFIC_DATA, in one block
//   of 4,144 bytes used for input and output (the reply starts with a
//   STORAGE_PROTOCOL_DATA_DESCRIPTOR of the same shape);
// - the miniport pass-through: SRB_IO_CONTROL ("NvmeMini") followed by the
//   community NVMe driver's pass-through block, with the NVMe submission and
//   completion entries inside it;
// - SCSI_PASS_THROUGH with its CDB, sense and data areas;
// - SCSI_ADDRESS.
//
// Every field is written and read at an explicit little-endian offset; the
// static_asserts pin the offsets and sizes so a wrong one fails the build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/bytes.h"

namespace zel::wire {

// --- STORAGE_PROPERTY_QUERY / STORAGE_PROTOCOL_SPECIFIC_DATA ----------------

inline constexpr uint32_t StorageAdapterProtocolSpecificProperty = 49;
inline constexpr uint32_t StorageDeviceProtocolSpecificProperty = 50;
inline constexpr uint32_t PropertyStandardQuery = 0;
inline constexpr uint32_t ProtocolTypeNvme = 3;
inline constexpr uint32_t NVMeDataTypeIdentify = 1;
inline constexpr uint32_t NVMeDataTypeLogPage = 2;
inline constexpr uint32_t NVME_IDENTIFY_CNS_CONTROLLER = 1;
inline constexpr uint32_t NVME_LOG_PAGE_HEALTH_INFO = 2;
inline constexpr uint32_t NVME_NAMESPACE_ALL = 0xFFFFFFFFu;

// STORAGE_PROTOCOL_SPECIFIC_DATA: ten 32-bit fields.
struct StorageProtocolSpecificData {
  static constexpr uint32_t kSize = 40;
  static constexpr uint32_t kProtocolType = 0;
  static constexpr uint32_t kDataType = 4;
  static constexpr uint32_t kRequestValue = 8;
  static constexpr uint32_t kRequestSubValue = 12;
  static constexpr uint32_t kDataOffset = 16;
  static constexpr uint32_t kDataLength = 20;
  static constexpr uint32_t kFixedReturnData = 24;
  static constexpr uint32_t kRequestSubValue2 = 28;
  static constexpr uint32_t kRequestSubValue3 = 32;
  static constexpr uint32_t kRequestSubValue4 = 36;

  uint32_t ProtocolType = 0;
  uint32_t DataType = 0;
  uint32_t ProtocolDataRequestValue = 0;
  uint32_t ProtocolDataRequestSubValue = 0;
  uint32_t ProtocolDataOffset = 0;   // from the start of this structure
  uint32_t ProtocolDataLength = 0;
  uint32_t FixedProtocolReturnData = 0;
  uint32_t ProtocolDataRequestSubValue2 = 0;
  uint32_t ProtocolDataRequestSubValue3 = 0;
  uint32_t ProtocolDataRequestSubValue4 = 0;

  void Encode(uint8_t* out) const;
  static StorageProtocolSpecificData Decode(const uint8_t* in);
};
static_assert(StorageProtocolSpecificData::kRequestSubValue4 + 4 ==
              StorageProtocolSpecificData::kSize);

// STORAGE_PROPERTY_QUERY with the protocol data as its additional
// parameters, and the data area after them: the whole 4,144-byte block.
struct StorageProtocolQuery {
  static constexpr uint32_t kPropertyId = 0;
  static constexpr uint32_t kQueryType = 4;
  static constexpr uint32_t kAdditionalParameters = 8;
  // Where the protocol data starts, counted from the protocol-specific data
  // (the value of ProtocolDataOffset), and from the start of the block.
  static constexpr uint32_t kProtocolDataOffset = StorageProtocolSpecificData::kSize;
  static constexpr uint32_t kDataOffset = kAdditionalParameters + kProtocolDataOffset;
  static constexpr uint32_t kDataLength = 4096;
  static constexpr uint32_t kBlockSize = kDataOffset + kDataLength;

  uint32_t PropertyId = 0;
  uint32_t QueryType = 0;
  StorageProtocolSpecificData Protocol;

  // Writes the header fields (the data area is left as it is).
  void Encode(uint8_t* block) const;
  static StorageProtocolQuery Decode(const uint8_t* block);
};
static_assert(StorageProtocolQuery::kDataOffset == 48);
static_assert(StorageProtocolQuery::kBlockSize == 4144);

// STORAGE_PROTOCOL_DATA_DESCRIPTOR: the reply's header, Version and Size
// (both the descriptor's size) then the protocol data as the driver filled it.
struct StorageProtocolDataDescriptor {
  static constexpr uint32_t kVersion = 0;
  static constexpr uint32_t kSizeField = 4;
  static constexpr uint32_t kProtocolSpecificData = 8;
  static constexpr uint32_t kSize = kProtocolSpecificData + StorageProtocolSpecificData::kSize;

  uint32_t Version = kSize;
  uint32_t Size = kSize;
  StorageProtocolSpecificData Protocol;

  void Encode(uint8_t* block) const;
  static StorageProtocolDataDescriptor Decode(const uint8_t* block);
};
static_assert(StorageProtocolDataDescriptor::kSize == 48);
static_assert(StorageProtocolDataDescriptor::kProtocolSpecificData ==
              StorageProtocolQuery::kAdditionalParameters);

// --- NVMe submission and completion entries ---------------------------------

inline constexpr uint8_t NVME_ADMIN_COMMAND_GET_LOG_PAGE = 0x02;
inline constexpr uint8_t NVME_ADMIN_COMMAND_IDENTIFY = 0x06;

// The 64-byte submission queue entry.
struct NvmeCommand {
  static constexpr uint32_t kSize = 64;
  static constexpr uint32_t kCdw0 = 0;   // opcode 7:0, fused 9:8, PSDT 15:14, command id 31:16
  static constexpr uint32_t kNsid = 4;
  static constexpr uint32_t kCdw2 = 8;
  static constexpr uint32_t kCdw3 = 12;
  static constexpr uint32_t kMptr = 16;
  static constexpr uint32_t kPrp1 = 24;
  static constexpr uint32_t kPrp2 = 32;
  static constexpr uint32_t kCdw10 = 40;  // CDW10..CDW15 follow at 4-byte steps

  uint8_t Opcode = 0;
  uint8_t FusedOperation = 0;  // 2 bits
  uint8_t Psdt = 0;            // 2 bits
  uint8_t Cdw0Reserved = 0;    // bits 13:10
  uint16_t CommandId = 0;
  uint32_t Nsid = 0;
  uint32_t Cdw2 = 0, Cdw3 = 0;
  uint64_t Mptr = 0, Prp1 = 0, Prp2 = 0;
  uint32_t Cdw10 = 0, Cdw11 = 0, Cdw12 = 0, Cdw13 = 0, Cdw14 = 0, Cdw15 = 0;

  void Encode(uint8_t* out) const;
  static NvmeCommand Decode(const uint8_t* in);
};
static_assert(NvmeCommand::kCdw10 + 6 * 4 == NvmeCommand::kSize);

// The 16-byte completion queue entry.
struct NvmeCompletion {
  static constexpr uint32_t kSize = 16;
  static constexpr uint32_t kDw0 = 0;
  static constexpr uint32_t kDw1 = 4;
  static constexpr uint32_t kSqHead = 8;
  static constexpr uint32_t kSqId = 10;
  static constexpr uint32_t kCommandId = 12;
  static constexpr uint32_t kStatus = 14;  // phase tag bit 0, status field bits 15:1

  uint32_t Dw0 = 0, Dw1 = 0;
  uint16_t SqHead = 0, SqId = 0, CommandId = 0, Status = 0;

  void Encode(uint8_t* out) const;
  static NvmeCompletion Decode(const uint8_t* in);
};
static_assert(NvmeCompletion::kStatus + 2 == NvmeCompletion::kSize);

// --- SRB_IO_CONTROL and the miniport pass-through block ---------------------

inline constexpr std::string_view kNvmeMiniportSignature = "NvmeMini";
inline constexpr uint32_t NVME_PASS_THROUGH_SRB_IO_CODE = 0xE0002000u;
inline constexpr uint32_t NVME_FROM_HOST_TO_DEV = 1;
inline constexpr uint32_t NVME_FROM_DEV_TO_HOST = 2;

struct SrbIoControl {
  static constexpr uint32_t kSize = 28;
  static constexpr uint32_t kHeaderLength = 0;
  static constexpr uint32_t kSignature = 4;  // 8 bytes, not NUL-terminated
  static constexpr uint32_t kSignatureSize = 8;
  static constexpr uint32_t kTimeout = 12;
  static constexpr uint32_t kControlCode = 16;
  static constexpr uint32_t kReturnCode = 20;
  static constexpr uint32_t kLength = 24;

  uint32_t HeaderLength = kSize;
  char Signature[kSignatureSize] = {};
  uint32_t Timeout = 0;
  uint32_t ControlCode = 0;
  uint32_t ReturnCode = 0;
  uint32_t Length = 0;

  void SetSignature(std::string_view text);
  std::string_view SignatureText() const { return std::string_view(Signature, kSignatureSize); }
  void Encode(uint8_t* out) const;
  static SrbIoControl Decode(const uint8_t* in);
};
static_assert(SrbIoControl::kLength + 4 == SrbIoControl::kSize);
static_assert(SrbIoControl::kSignature + SrbIoControl::kSignatureSize == SrbIoControl::kTimeout);

// What a miniport driver checks of a request before it reads the block
// behind the header: the header is whole and gives its own length, the
// block it announces fits the input and the output, and the signature and
// control code are the NVMe pass-through's. Returns 0 (ERROR_SUCCESS) with
// `*srb` decoded, ERROR_INVALID_PARAMETER (87) for a malformed header or
// ERROR_INVALID_FUNCTION (1) for another miniport's request.
uint32_t CheckNvmeMiniportHeader(const uint8_t* in, size_t inSize, size_t outSize, SrbIoControl* srb);

// The community driver's pass-through block, SRB_IO_CONTROL included.
struct NvmePassThroughIoctl {
  static constexpr uint32_t kSrbIoControl = 0;
  static constexpr uint32_t kVendorSpecific = 28;  // 6 dwords
  static constexpr uint32_t kVendorSpecificSize = 24;
  static constexpr uint32_t kCommand = 52;
  static constexpr uint32_t kCompletion = 116;
  static constexpr uint32_t kDirection = 132;
  static constexpr uint32_t kQueueId = 136;
  static constexpr uint32_t kDataBufferLength = 140;  // data sent to the device
  static constexpr uint32_t kMetaDataLength = 144;
  static constexpr uint32_t kReturnBufferLength = 148;
  static constexpr uint32_t kDataBuffer = 152;
  // The two block sizes the system sends: a whole Identify page, and one
  // 512-byte page.
  static constexpr uint32_t kIdentifyBlockSize = kDataBuffer + 4096;
  static constexpr uint32_t kPageBlockSize = kDataBuffer + 512;

  SrbIoControl Srb;
  NvmeCommand Command;
  NvmeCompletion Completion;
  uint32_t Direction = 0;
  uint32_t QueueId = 0;
  uint32_t DataBufferLength = 0;
  uint32_t MetaDataLength = 0;
  uint32_t ReturnBufferLength = 0;
  bool VendorSpecificZero = true;  // decoded: whether the 24 vendor bytes are all zero

  // Writes everything up to the data area (the vendor bytes as zeros).
  void Encode(uint8_t* block) const;
  static NvmePassThroughIoctl Decode(const uint8_t* block);
};
static_assert(NvmePassThroughIoctl::kVendorSpecific == SrbIoControl::kSize);
static_assert(NvmePassThroughIoctl::kVendorSpecific + NvmePassThroughIoctl::kVendorSpecificSize ==
              NvmePassThroughIoctl::kCommand);
static_assert(NvmePassThroughIoctl::kCommand + NvmeCommand::kSize ==
              NvmePassThroughIoctl::kCompletion);
static_assert(NvmePassThroughIoctl::kCompletion + NvmeCompletion::kSize ==
              NvmePassThroughIoctl::kDirection);
static_assert(NvmePassThroughIoctl::kReturnBufferLength + 4 == NvmePassThroughIoctl::kDataBuffer);
static_assert(NvmePassThroughIoctl::kIdentifyBlockSize == 4248);
static_assert(NvmePassThroughIoctl::kPageBlockSize == 664);

// --- SCSI_PASS_THROUGH ------------------------------------------------------

inline constexpr uint8_t SCSI_IOCTL_DATA_OUT = 0;
inline constexpr uint8_t SCSI_IOCTL_DATA_IN = 1;
inline constexpr uint8_t SCSI_IOCTL_DATA_UNSPECIFIED = 2;
inline constexpr uint8_t SCSIOP_SECURITY_PROTOCOL_IN = 0xA2;
inline constexpr uint8_t SCSIOP_SECURITY_PROTOCOL_OUT = 0xB5;
inline constexpr uint8_t SCSISTAT_GOOD = 0x00;
inline constexpr uint8_t SCSISTAT_CHECK_CONDITION = 0x02;

struct ScsiPassThrough {
  static constexpr uint32_t kSize = 44;
  static constexpr uint32_t kLength = 0;  // 16 bits
  static constexpr uint32_t kScsiStatus = 2;
  static constexpr uint32_t kPathId = 3;
  static constexpr uint32_t kTargetId = 4;
  static constexpr uint32_t kLun = 5;
  static constexpr uint32_t kCdbLength = 6;
  static constexpr uint32_t kSenseInfoLength = 7;
  static constexpr uint32_t kDataIn = 8;  // then 3 bytes of alignment
  static constexpr uint32_t kDataTransferLength = 12;
  static constexpr uint32_t kTimeOutValue = 16;
  static constexpr uint32_t kDataBufferOffset = 20;  // a 32-bit ULONG_PTR
  static constexpr uint32_t kSenseInfoOffset = 24;
  static constexpr uint32_t kCdb = 28;
  static constexpr uint32_t kCdbSize = 16;

  uint16_t Length = kSize;
  uint8_t ScsiStatus = 0;
  uint8_t PathId = 0;
  uint8_t TargetId = 0;
  uint8_t Lun = 0;
  uint8_t CdbLength = 0;
  uint8_t SenseInfoLength = 0;
  uint8_t DataIn = 0;
  uint32_t DataTransferLength = 0;
  uint32_t TimeOutValue = 0;
  uint32_t DataBufferOffset = 0;
  uint32_t SenseInfoOffset = 0;
  uint8_t Cdb[kCdbSize] = {};

  void Encode(uint8_t* out) const;
  static ScsiPassThrough Decode(const uint8_t* in);
};
static_assert(ScsiPassThrough::kCdb + ScsiPassThrough::kCdbSize == ScsiPassThrough::kSize);

// What a driver checks of a SCSI pass-through request before it sends the
// command: the input and the output each hold the whole structure, which
// gives its own size, a CDB of 1 to 16 bytes and a known direction; the data
// area lies inside both buffers and the sense area inside the output.
// Returns 0 (ERROR_SUCCESS) with `*request` decoded, else
// ERROR_INVALID_PARAMETER (87).
uint32_t CheckScsiPassThrough(const uint8_t* in, size_t inSize, size_t outSize, ScsiPassThrough* request);

// The vendor tunnel's block: header, 24 sense bytes, 512 data bytes.
struct ScsiTunnelBlock {
  static constexpr uint32_t kSenseOffset = ScsiPassThrough::kSize;
  static constexpr uint32_t kSenseSize = 24;
  static constexpr uint32_t kDataOffset = kSenseOffset + kSenseSize;
  static constexpr uint32_t kDataSize = 512;
  static constexpr uint32_t kBlockSize = kDataOffset + kDataSize;
};
static_assert(ScsiTunnelBlock::kSenseOffset == 44);
static_assert(ScsiTunnelBlock::kDataOffset == 68);
static_assert(ScsiTunnelBlock::kBlockSize == 580);

// --- SCSI_ADDRESS -----------------------------------------------------------

struct ScsiAddress {
  static constexpr uint32_t kSize = 8;
  static constexpr uint32_t kLength = 0;
  static constexpr uint32_t kPortNumber = 4;
  static constexpr uint32_t kPathId = 5;
  static constexpr uint32_t kTargetId = 6;
  static constexpr uint32_t kLun = 7;

  uint32_t Length = kSize;
  uint8_t PortNumber = 0;
  uint8_t PathId = 0;
  uint8_t TargetId = 0;
  uint8_t Lun = 0;

  void Encode(uint8_t* out) const;
  static ScsiAddress Decode(const uint8_t* in);
};
static_assert(ScsiAddress::kLun + 1 == ScsiAddress::kSize);

// --- STORAGE_PROTOCOL_COMMAND: one NVMe admin command ------------------------
//
// The platform's storage protocol command carries one NVMe admin command to
// the disk: an 80-byte header, the 64-byte submission entry, an error-info
// area and the data area, all in one block used for input and output. The
// driver writes ReturnStatus, ErrorCode (the NVMe status field) and the
// completion's dword 0 into the header of the reply.

inline constexpr uint8_t NVME_ADMIN_COMMAND_DEVICE_SELF_TEST = 0x14;
inline constexpr uint32_t NVME_LOG_PAGE_DEVICE_SELF_TEST = 0x06;
inline constexpr uint32_t kNvmeDeviceSelfTestLogSize = 564;
inline constexpr uint32_t STORAGE_PROTOCOL_STRUCTURE_VERSION = 1;
inline constexpr uint32_t STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST = 0x80000000u;
inline constexpr uint32_t STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND = 1;
inline constexpr uint32_t STORAGE_PROTOCOL_STATUS_SUCCESS = 1;
inline constexpr uint32_t STORAGE_PROTOCOL_STATUS_ERROR = 2;

struct StorageProtocolCommand {
  static constexpr uint32_t kVersion = 0;
  static constexpr uint32_t kLength = 4;
  static constexpr uint32_t kProtocolType = 8;
  static constexpr uint32_t kFlags = 12;
  static constexpr uint32_t kReturnStatus = 16;
  static constexpr uint32_t kErrorCode = 20;
  static constexpr uint32_t kCommandLength = 24;
  static constexpr uint32_t kErrorInfoLength = 28;
  static constexpr uint32_t kDataToDeviceLength = 32;
  static constexpr uint32_t kDataFromDeviceLength = 36;
  static constexpr uint32_t kTimeOutValue = 40;
  static constexpr uint32_t kErrorInfoOffset = 44;
  static constexpr uint32_t kDataToDeviceOffset = 48;
  static constexpr uint32_t kDataFromDeviceOffset = 52;
  static constexpr uint32_t kCommandSpecific = 56;
  static constexpr uint32_t kFixedProtocolReturnData = 64;
  static constexpr uint32_t kCommand = 80;
  // The value of Length: the structure with its one-element command array.
  static constexpr uint32_t kStructureLength = 84;
  static constexpr uint32_t kErrorInfoSize = 64;
  // Where the system places the error info and the data.
  static constexpr uint32_t kErrorInfoAt = kCommand + NvmeCommand::kSize;
  static constexpr uint32_t kDataAt = kErrorInfoAt + kErrorInfoSize;

  uint32_t Version = STORAGE_PROTOCOL_STRUCTURE_VERSION;
  uint32_t Length = kStructureLength;
  uint32_t ProtocolType = ProtocolTypeNvme;
  uint32_t Flags = STORAGE_PROTOCOL_COMMAND_FLAG_ADAPTER_REQUEST;
  uint32_t ReturnStatus = 0;
  uint32_t ErrorCode = 0;
  uint32_t CommandLength = NvmeCommand::kSize;
  uint32_t ErrorInfoLength = 0;
  uint32_t DataToDeviceTransferLength = 0;
  uint32_t DataFromDeviceTransferLength = 0;
  uint32_t TimeOutValue = 0;  // seconds
  uint32_t ErrorInfoOffset = 0;
  uint32_t DataToDeviceBufferOffset = 0;
  uint32_t DataFromDeviceBufferOffset = 0;
  uint32_t CommandSpecific = STORAGE_PROTOCOL_SPECIFIC_NVME_ADMIN_COMMAND;
  uint32_t FixedProtocolReturnData = 0;
  NvmeCommand Command;

  // Writes the header and the command (the areas after them are left).
  void Encode(uint8_t* block) const;
  static StorageProtocolCommand Decode(const uint8_t* block);
};
static_assert(StorageProtocolCommand::kErrorInfoAt == 144);
static_assert(StorageProtocolCommand::kDataAt == 208);

}  // namespace zel::wire
