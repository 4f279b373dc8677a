#include "platform/wire/ata.h"

#include <cstring>

namespace zel::wire {

void AtaTaskFile::Encode(uint8_t* out) const {
  out[kFeatures] = Features;
  out[kSectorCount] = SectorCount;
  out[kLbaLow] = LbaLow;
  out[kLbaMid] = LbaMid;
  out[kLbaHigh] = LbaHigh;
  out[kDevice] = Device;
  out[kCommand] = Command;
  out[kReserved] = Reserved;
}

AtaTaskFile AtaTaskFile::Decode(const uint8_t* in) {
  AtaTaskFile t;
  t.Features = in[kFeatures];
  t.SectorCount = in[kSectorCount];
  t.LbaLow = in[kLbaLow];
  t.LbaMid = in[kLbaMid];
  t.LbaHigh = in[kLbaHigh];
  t.Device = in[kDevice];
  t.Command = in[kCommand];
  t.Reserved = in[kReserved];
  return t;
}

uint32_t PackRegisterWord1(uint8_t features, uint8_t count, uint8_t lbaLow, uint8_t lbaMid) {
  return static_cast<uint32_t>(features) | (static_cast<uint32_t>(count) << 8) |
         (static_cast<uint32_t>(lbaLow) << 16) | (static_cast<uint32_t>(lbaMid) << 24);
}

uint32_t PackRegisterWord2(uint8_t lbaHigh, uint8_t device, uint8_t command) {
  return static_cast<uint32_t>(lbaHigh) | (static_cast<uint32_t>(device) << 8) |
         (static_cast<uint32_t>(command) << 16);
}

AtaTaskFile UnpackRegisterWords(uint32_t word1, uint32_t word2) {
  AtaTaskFile t;
  t.Features = static_cast<uint8_t>(word1);
  t.SectorCount = static_cast<uint8_t>(word1 >> 8);
  t.LbaLow = static_cast<uint8_t>(word1 >> 16);
  t.LbaMid = static_cast<uint8_t>(word1 >> 24);
  t.LbaHigh = static_cast<uint8_t>(word2);
  t.Device = static_cast<uint8_t>(word2 >> 8);
  t.Command = static_cast<uint8_t>(word2 >> 16);
  t.Reserved = 0;
  return t;
}

namespace {

// The two pass-through headers share every field but the one at offset 20.
template <typename T>
void EncodeHeader(const T& h, uint32_t field20, uint8_t* out) {
  std::memset(out, 0, T::kSize);
  PutLE16(out + T::kLength, h.Length);
  PutLE16(out + T::kAtaFlags, h.AtaFlags);
  out[T::kPathId] = h.PathId;
  out[T::kTargetId] = h.TargetId;
  out[T::kLun] = h.Lun;
  out[T::kReservedAsUchar] = h.ReservedAsUchar;
  PutLE32(out + T::kDataTransferLength, h.DataTransferLength);
  PutLE32(out + T::kTimeOutValue, h.TimeOutValue);
  PutLE32(out + T::kReservedAsUlong, h.ReservedAsUlong);
  PutLE32(out + 20, field20);
  h.PreviousTaskFile.Encode(out + T::kPreviousTaskFile);
  h.CurrentTaskFile.Encode(out + T::kCurrentTaskFile);
}

template <typename T>
T DecodeHeader(const uint8_t* in, uint32_t* field20) {
  T h;
  h.Length = GetLE16(in + T::kLength);
  h.AtaFlags = GetLE16(in + T::kAtaFlags);
  h.PathId = in[T::kPathId];
  h.TargetId = in[T::kTargetId];
  h.Lun = in[T::kLun];
  h.ReservedAsUchar = in[T::kReservedAsUchar];
  h.DataTransferLength = GetLE32(in + T::kDataTransferLength);
  h.TimeOutValue = GetLE32(in + T::kTimeOutValue);
  h.ReservedAsUlong = GetLE32(in + T::kReservedAsUlong);
  *field20 = GetLE32(in + 20);
  h.PreviousTaskFile = AtaTaskFile::Decode(in + T::kPreviousTaskFile);
  h.CurrentTaskFile = AtaTaskFile::Decode(in + T::kCurrentTaskFile);
  return h;
}

}  // namespace

void AtaPassThroughEx::Encode(uint8_t* out) const { EncodeHeader(*this, DataBufferOffset, out); }

AtaPassThroughEx AtaPassThroughEx::Decode(const uint8_t* in) {
  uint32_t field20 = 0;
  AtaPassThroughEx h = DecodeHeader<AtaPassThroughEx>(in, &field20);
  h.DataBufferOffset = field20;
  return h;
}

void AtaPassThroughDirect::Encode(uint8_t* out) const { EncodeHeader(*this, DataBuffer, out); }

AtaPassThroughDirect AtaPassThroughDirect::Decode(const uint8_t* in) {
  uint32_t field20 = 0;
  AtaPassThroughDirect h = DecodeHeader<AtaPassThroughDirect>(in, &field20);
  h.DataBuffer = field20;
  return h;
}

void IdePassThrough::EncodeHeader(uint8_t* out, const AtaTaskFile& registers,
                                  uint32_t dataLength) {
  registers.Encode(out + kRegisters);
  PutLE32(out + kDataBufferSize, dataLength);
}

void SendCmdInParams::Encode(uint8_t* out) const {
  std::memset(out, 0, kSize);
  PutLE32(out + kBufferSize, cBufferSize);
  irDriveRegs.Encode(out + kDriveRegs);
  out[kDriveNumber] = bDriveNumber;
}

SendCmdInParams SendCmdInParams::Decode(const uint8_t* in) {
  SendCmdInParams p;
  p.cBufferSize = GetLE32(in + kBufferSize);
  p.irDriveRegs = AtaTaskFile::Decode(in + kDriveRegs);
  p.bDriveNumber = in[kDriveNumber];
  return p;
}

void SendCmdOutParams::EncodeHeader(uint8_t* out) const {
  std::memset(out, 0, kHeaderSize);
  PutLE32(out + kBufferSize, cBufferSize);
  out[kDriverError] = bDriverError;
  out[kIdeError] = bIDEError;
}

SendCmdOutParams SendCmdOutParams::DecodeHeader(const uint8_t* in) {
  SendCmdOutParams p;
  p.cBufferSize = GetLE32(in + kBufferSize);
  p.bDriverError = in[kDriverError];
  p.bIDEError = in[kIdeError];
  return p;
}

}  // namespace zel::wire
