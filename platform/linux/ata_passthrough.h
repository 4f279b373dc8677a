// ATA commands to a SCSI disk through SG_IO with the ATA PASS-THROUGH(16)
// command, and the ATA registers the device returned, read back from the
// sense data. The kernel's libata (and SAT bridges) answer in descriptor
// format (0x72, descriptor 0x09) or, for commands the drive aborted, in
// fixed format (0x70); both are decoded, the fixed format in both the
// standard layout and the one older kernels write.
#pragma once

#include <cstdint>
#include <span>

namespace zel::linuxbackend {

// How the command moves data, which decides the pass-through protocol.
enum class AtaProtocol : uint8_t {
  NonData = 3,
  PioIn = 4,
  PioOut = 5,
  Dma = 6,
};

// The registers of one ATA command (the current register file; the
// previous one is used by 48-bit commands only).
struct AtaTaskFile {
  uint8_t features = 0, count = 0, lbaLow = 0, lbaMid = 0, lbaHigh = 0, device = 0, command = 0;
  uint8_t featuresExt = 0, countExt = 0, lbaLowExt = 0, lbaMidExt = 0, lbaHighExt = 0;
};

struct AtaRequest {
  AtaTaskFile registers;
  AtaProtocol protocol = AtaProtocol::NonData;
  bool dataIn = false;       // direction of the data phase (PIO-in, DMA reads)
  bool extend = false;       // a 48-bit command
  uint32_t dataLength = 0;   // bytes
};

inline constexpr size_t kAta16CdbSize = 16;

// Builds the ATA PASS-THROUGH(16) CDB (operation code 0x85). CK_COND is set
// (the device's registers come back in the sense data) for every protocol
// but PIO data-in; the transfer length is counted in 512-byte blocks in the
// sector count.
void BuildAta16Cdb(const AtaRequest& request, uint8_t cdb[kAta16CdbSize]);

// The registers a device returned, and what the sense data said.
struct AtaReturn {
  bool haveRegisters = false;  // an ATA status return was found in the sense data
  uint8_t error = 0, status = 0, device = 0, count = 0, lbaLow = 0, lbaMid = 0, lbaHigh = 0;
  bool extend = false;
  uint8_t countExt = 0, lbaLowExt = 0, lbaMidExt = 0, lbaHighExt = 0;
  uint8_t responseCode = 0;  // 0x70/0x71 fixed, 0x72/0x73 descriptor, 0 none
  uint8_t senseKey = 0, asc = 0, ascq = 0;
};

// Decodes sense data of either format. Without an ATA status return the
// result has `haveRegisters` false and only the sense key and codes.
AtaReturn DecodeAtaSense(std::span<const uint8_t> sense);

// How one SG_IO request ended, from the fields of sg_io_hdr.
struct SgCompletion {
  int ioctlErrno = 0;       // the ioctl itself failed
  uint8_t scsiStatus = 0;   // status (0 GOOD, 2 CHECK CONDITION)
  uint16_t hostStatus = 0;  // DID_* (0 OK, 3 time-out, 1/4 no connection)
  uint16_t driverStatus = 0;
  uint32_t resid = 0;
};

// What a pass-through request means to the platform: whether the request
// was carried (the drive's own verdict is in the registers, as the
// platform's ATA pass-through reports it), and the error when it was not.
struct AtaOutcome {
  bool carried = false;
  uint32_t error = 0;  // platform error code when not carried
  AtaReturn registers;
};
AtaOutcome JudgeAtaCompletion(const SgCompletion& completion, std::span<const uint8_t> sense);

// Sends one ATA command to an open SCSI disk (or SCSI generic) descriptor.
// `data` is the data phase (length request.dataLength). `timeoutMs` 0 means
// the kernel's default. `*transferred` receives the bytes moved.
AtaOutcome SendAtaCommand(int fd, const AtaRequest& request, uint8_t* data, uint32_t timeoutMs,
                          uint32_t* transferred);

// Sends any SCSI command through SG_IO. `direction`: 0 none, 1 from the
// device, 2 to the device. Returns how it ended; sense bytes are written to
// `sense` (up to its size) and `*senseLength` receives their count.
SgCompletion SendScsiCommand(int fd, std::span<const uint8_t> cdb, int direction, uint8_t* data,
                             uint32_t dataLength, uint32_t timeoutMs, std::span<uint8_t> sense,
                             uint32_t* senseLength);

}  // namespace zel::linuxbackend
