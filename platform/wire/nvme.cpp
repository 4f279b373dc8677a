#include "platform/wire/nvme.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "platform/errors.h"

namespace zel::wire {

// --- STORAGE_PROTOCOL_SPECIFIC_DATA and the query block ----------------------

void StorageProtocolSpecificData::Encode(uint8_t* out) const {
  PutLE32(out + kProtocolType, ProtocolType);
  PutLE32(out + kDataType, DataType);
  PutLE32(out + kRequestValue, ProtocolDataRequestValue);
  PutLE32(out + kRequestSubValue, ProtocolDataRequestSubValue);
  PutLE32(out + kDataOffset, ProtocolDataOffset);
  PutLE32(out + kDataLength, ProtocolDataLength);
  PutLE32(out + kFixedReturnData, FixedProtocolReturnData);
  PutLE32(out + kRequestSubValue2, ProtocolDataRequestSubValue2);
  PutLE32(out + kRequestSubValue3, ProtocolDataRequestSubValue3);
  PutLE32(out + kRequestSubValue4, ProtocolDataRequestSubValue4);
}

StorageProtocolSpecificData StorageProtocolSpecificData::Decode(const uint8_t* in) {
  StorageProtocolSpecificData d;
  d.ProtocolType = GetLE32(in + kProtocolType);
  d.DataType = GetLE32(in + kDataType);
  d.ProtocolDataRequestValue = GetLE32(in + kRequestValue);
  d.ProtocolDataRequestSubValue = GetLE32(in + kRequestSubValue);
  d.ProtocolDataOffset = GetLE32(in + kDataOffset);
  d.ProtocolDataLength = GetLE32(in + kDataLength);
  d.FixedProtocolReturnData = GetLE32(in + kFixedReturnData);
  d.ProtocolDataRequestSubValue2 = GetLE32(in + kRequestSubValue2);
  d.ProtocolDataRequestSubValue3 = GetLE32(in + kRequestSubValue3);
  d.ProtocolDataRequestSubValue4 = GetLE32(in + kRequestSubValue4);
  return d;
}

void StorageProtocolQuery::Encode(uint8_t* block) const {
  PutLE32(block + kPropertyId, PropertyId);
  PutLE32(block + kQueryType, QueryType);
  Protocol.Encode(block + kAdditionalParameters);
}

StorageProtocolQuery StorageProtocolQuery::Decode(const uint8_t* block) {
  StorageProtocolQuery q;
  q.PropertyId = GetLE32(block + kPropertyId);
  q.QueryType = GetLE32(block + kQueryType);
  q.Protocol = StorageProtocolSpecificData::Decode(block + kAdditionalParameters);
  return q;
}

void StorageProtocolDataDescriptor::Encode(uint8_t* block) const {
  PutLE32(block + kVersion, Version);
  PutLE32(block + kSizeField, Size);
  Protocol.Encode(block + kProtocolSpecificData);
}

StorageProtocolDataDescriptor StorageProtocolDataDescriptor::Decode(const uint8_t* block) {
  StorageProtocolDataDescriptor d;
  d.Version = GetLE32(block + kVersion);
  d.Size = GetLE32(block + kSizeField);
  d.Protocol = StorageProtocolSpecificData::Decode(block + kProtocolSpecificData);
  return d;
}

// --- NVMe entries --------------------------------------------------------------

void NvmeCommand::Encode(uint8_t* out) const {
  uint32_t cdw0 = static_cast<uint32_t>(Opcode) | (static_cast<uint32_t>(FusedOperation & 3) << 8) |
                  (static_cast<uint32_t>(Cdw0Reserved & 0xF) << 10) |
                  (static_cast<uint32_t>(Psdt & 3) << 14) | (static_cast<uint32_t>(CommandId) << 16);
  PutLE32(out + kCdw0, cdw0);
  PutLE32(out + kNsid, Nsid);
  PutLE32(out + kCdw2, Cdw2);
  PutLE32(out + kCdw3, Cdw3);
  PutLE64(out + kMptr, Mptr);
  PutLE64(out + kPrp1, Prp1);
  PutLE64(out + kPrp2, Prp2);
  const uint32_t cdws[6] = {Cdw10, Cdw11, Cdw12, Cdw13, Cdw14, Cdw15};
  for (int i = 0; i < 6; ++i) PutLE32(out + kCdw10 + 4 * i, cdws[i]);
}

NvmeCommand NvmeCommand::Decode(const uint8_t* in) {
  NvmeCommand c;
  uint32_t cdw0 = GetLE32(in + kCdw0);
  c.Opcode = static_cast<uint8_t>(cdw0);
  c.FusedOperation = static_cast<uint8_t>((cdw0 >> 8) & 3);
  c.Cdw0Reserved = static_cast<uint8_t>((cdw0 >> 10) & 0xF);
  c.Psdt = static_cast<uint8_t>((cdw0 >> 14) & 3);
  c.CommandId = static_cast<uint16_t>(cdw0 >> 16);
  c.Nsid = GetLE32(in + kNsid);
  c.Cdw2 = GetLE32(in + kCdw2);
  c.Cdw3 = GetLE32(in + kCdw3);
  c.Mptr = GetLE64(in + kMptr);
  c.Prp1 = GetLE64(in + kPrp1);
  c.Prp2 = GetLE64(in + kPrp2);
  uint32_t* cdws[6] = {&c.Cdw10, &c.Cdw11, &c.Cdw12, &c.Cdw13, &c.Cdw14, &c.Cdw15};
  for (int i = 0; i < 6; ++i) *cdws[i] = GetLE32(in + kCdw10 + 4 * i);
  return c;
}

void NvmeCompletion::Encode(uint8_t* out) const {
  PutLE32(out + kDw0, Dw0);
  PutLE32(out + kDw1, Dw1);
  PutLE16(out + kSqHead, SqHead);
  PutLE16(out + kSqId, SqId);
  PutLE16(out + kCommandId, CommandId);
  PutLE16(out + kStatus, Status);
}

NvmeCompletion NvmeCompletion::Decode(const uint8_t* in) {
  NvmeCompletion c;
  c.Dw0 = GetLE32(in + kDw0);
  c.Dw1 = GetLE32(in + kDw1);
  c.SqHead = GetLE16(in + kSqHead);
  c.SqId = GetLE16(in + kSqId);
  c.CommandId = GetLE16(in + kCommandId);
  c.Status = GetLE16(in + kStatus);
  return c;
}

// --- SRB_IO_CONTROL and the miniport block -------------------------------------

void SrbIoControl::SetSignature(std::string_view text) {
  std::memset(Signature, 0, sizeof Signature);
  std::memcpy(Signature, text.data(), std::min<size_t>(text.size(), kSignatureSize));
}

void SrbIoControl::Encode(uint8_t* out) const {
  PutLE32(out + kHeaderLength, HeaderLength);
  std::memcpy(out + kSignature, Signature, kSignatureSize);
  PutLE32(out + kTimeout, Timeout);
  PutLE32(out + kControlCode, ControlCode);
  PutLE32(out + kReturnCode, ReturnCode);
  PutLE32(out + kLength, Length);
}

SrbIoControl SrbIoControl::Decode(const uint8_t* in) {
  SrbIoControl s;
  s.HeaderLength = GetLE32(in + kHeaderLength);
  std::memcpy(s.Signature, in + kSignature, kSignatureSize);
  s.Timeout = GetLE32(in + kTimeout);
  s.ControlCode = GetLE32(in + kControlCode);
  s.ReturnCode = GetLE32(in + kReturnCode);
  s.Length = GetLE32(in + kLength);
  return s;
}

uint32_t CheckNvmeMiniportHeader(const uint8_t* in, size_t inSize, size_t outSize, SrbIoControl* srb) {
  if (inSize < SrbIoControl::kSize) return platform::ERROR_INVALID_PARAMETER;
  *srb = SrbIoControl::Decode(in);
  const uint64_t block = uint64_t{srb->Length} + SrbIoControl::kSize;
  if (srb->HeaderLength != SrbIoControl::kSize || block > inSize || block > outSize)
    return platform::ERROR_INVALID_PARAMETER;
  if (srb->SignatureText() != kNvmeMiniportSignature || srb->ControlCode != NVME_PASS_THROUGH_SRB_IO_CODE)
    return platform::ERROR_INVALID_FUNCTION;
  return platform::ERROR_SUCCESS;
}

void NvmePassThroughIoctl::Encode(uint8_t* block) const {
  Srb.Encode(block + kSrbIoControl);
  std::memset(block + kVendorSpecific, 0, kVendorSpecificSize);
  Command.Encode(block + kCommand);
  Completion.Encode(block + kCompletion);
  PutLE32(block + kDirection, Direction);
  PutLE32(block + kQueueId, QueueId);
  PutLE32(block + kDataBufferLength, DataBufferLength);
  PutLE32(block + kMetaDataLength, MetaDataLength);
  PutLE32(block + kReturnBufferLength, ReturnBufferLength);
}

NvmePassThroughIoctl NvmePassThroughIoctl::Decode(const uint8_t* block) {
  NvmePassThroughIoctl p;
  p.Srb = SrbIoControl::Decode(block + kSrbIoControl);
  p.VendorSpecificZero = AllZero(block + kVendorSpecific, kVendorSpecificSize);
  p.Command = NvmeCommand::Decode(block + kCommand);
  p.Completion = NvmeCompletion::Decode(block + kCompletion);
  p.Direction = GetLE32(block + kDirection);
  p.QueueId = GetLE32(block + kQueueId);
  p.DataBufferLength = GetLE32(block + kDataBufferLength);
  p.MetaDataLength = GetLE32(block + kMetaDataLength);
  p.ReturnBufferLength = GetLE32(block + kReturnBufferLength);
  return p;
}

// --- SCSI_PASS_THROUGH and SCSI_ADDRESS -------------------------------------------

void ScsiPassThrough::Encode(uint8_t* out) const {
  PutLE16(out + kLength, Length);
  out[kScsiStatus] = ScsiStatus;
  out[kPathId] = PathId;
  out[kTargetId] = TargetId;
  out[kLun] = Lun;
  out[kCdbLength] = CdbLength;
  out[kSenseInfoLength] = SenseInfoLength;
  out[kDataIn] = DataIn;
  out[kDataIn + 1] = out[kDataIn + 2] = out[kDataIn + 3] = 0;
  PutLE32(out + kDataTransferLength, DataTransferLength);
  PutLE32(out + kTimeOutValue, TimeOutValue);
  PutLE32(out + kDataBufferOffset, DataBufferOffset);
  PutLE32(out + kSenseInfoOffset, SenseInfoOffset);
  std::memcpy(out + kCdb, Cdb, kCdbSize);
}

ScsiPassThrough ScsiPassThrough::Decode(const uint8_t* in) {
  ScsiPassThrough s;
  s.Length = GetLE16(in + kLength);
  s.ScsiStatus = in[kScsiStatus];
  s.PathId = in[kPathId];
  s.TargetId = in[kTargetId];
  s.Lun = in[kLun];
  s.CdbLength = in[kCdbLength];
  s.SenseInfoLength = in[kSenseInfoLength];
  s.DataIn = in[kDataIn];
  s.DataTransferLength = GetLE32(in + kDataTransferLength);
  s.TimeOutValue = GetLE32(in + kTimeOutValue);
  s.DataBufferOffset = GetLE32(in + kDataBufferOffset);
  s.SenseInfoOffset = GetLE32(in + kSenseInfoOffset);
  std::memcpy(s.Cdb, in + kCdb, kCdbSize);
  return s;
}

uint32_t CheckScsiPassThrough(const uint8_t* in, size_t inSize, size_t outSize, ScsiPassThrough* request) {
  using S = ScsiPassThrough;
  if (inSize < S::kSize || outSize < S::kSize) return platform::ERROR_INVALID_PARAMETER;
  const S& s = *request = S::Decode(in);
  if (s.Length != S::kSize || s.CdbLength == 0 || s.CdbLength > S::kCdbSize ||
      s.DataIn > SCSI_IOCTL_DATA_UNSPECIFIED)
    return platform::ERROR_INVALID_PARAMETER;
  const uint64_t dataEnd = uint64_t{s.DataBufferOffset} + s.DataTransferLength;
  const uint64_t senseEnd = uint64_t{s.SenseInfoOffset} + s.SenseInfoLength;
  if (s.DataTransferLength && (s.DataBufferOffset < S::kSize || dataEnd > inSize || dataEnd > outSize))
    return platform::ERROR_INVALID_PARAMETER;
  if (s.SenseInfoLength && (s.SenseInfoOffset < S::kSize || senseEnd > outSize))
    return platform::ERROR_INVALID_PARAMETER;
  return platform::ERROR_SUCCESS;
}

void ScsiAddress::Encode(uint8_t* out) const {
  PutLE32(out + kLength, Length);
  out[kPortNumber] = PortNumber;
  out[kPathId] = PathId;
  out[kTargetId] = TargetId;
  out[kLun] = Lun;
}

ScsiAddress ScsiAddress::Decode(const uint8_t* in) {
  ScsiAddress a;
  a.Length = GetLE32(in + kLength);
  a.PortNumber = in[kPortNumber];
  a.PathId = in[kPathId];
  a.TargetId = in[kTargetId];
  a.Lun = in[kLun];
  return a;
}

void StorageProtocolCommand::Encode(uint8_t* block) const {
  const uint32_t fields[] = {Version, Length, ProtocolType, Flags, ReturnStatus, ErrorCode,
                             CommandLength, ErrorInfoLength, DataToDeviceTransferLength,
                             DataFromDeviceTransferLength, TimeOutValue, ErrorInfoOffset,
                             DataToDeviceBufferOffset, DataFromDeviceBufferOffset,
                             CommandSpecific};
  for (size_t i = 0; i < std::size(fields); ++i) PutLE32(block + 4 * i, fields[i]);
  PutLE32(block + 60, 0);
  PutLE32(block + kFixedProtocolReturnData, FixedProtocolReturnData);
  for (uint32_t at = 68; at < kCommand; at += 4) PutLE32(block + at, 0);
  Command.Encode(block + kCommand);
}

StorageProtocolCommand StorageProtocolCommand::Decode(const uint8_t* block) {
  StorageProtocolCommand c;
  uint32_t* fields[] = {&c.Version, &c.Length, &c.ProtocolType, &c.Flags, &c.ReturnStatus,
                        &c.ErrorCode, &c.CommandLength, &c.ErrorInfoLength,
                        &c.DataToDeviceTransferLength, &c.DataFromDeviceTransferLength,
                        &c.TimeOutValue, &c.ErrorInfoOffset, &c.DataToDeviceBufferOffset,
                        &c.DataFromDeviceBufferOffset, &c.CommandSpecific};
  for (size_t i = 0; i < std::size(fields); ++i) *fields[i] = GetLE32(block + 4 * i);
  c.FixedProtocolReturnData = GetLE32(block + kFixedProtocolReturnData);
  c.Command = NvmeCommand::Decode(block + kCommand);
  return c;
}

}  // namespace zel::wire
