// Firmware update: bringing a drive's firmware up to date from the update
// server (the online path), pointing models the server cannot update online
// to a full firmware package, or writing an image file the user chose (the
// manual path, "-UpgradeFw").
//
// The update is written once, as a synchronous operation (UpdateFirmware)
// on a copied drive record. It talks to the user through FirmwareUpdateUi:
// the Utilities page renders it with message boxes, `zelvane firmware` on the
// terminal. The image goes to the drive with DOWNLOAD MICROCODE in
// 32,768-byte pieces (mode 3, 64 blocks each), the last piece padded with
// zeros.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "device/drive_record.h"

namespace zel {

inline constexpr uint8_t kDownloadMicrocodeCommand = 0x92;
inline constexpr uint8_t kMicrocodeModeSaveWithOffsets = 3;
inline constexpr uint8_t kMicrocodeBlockCount = 64;
inline constexpr uint32_t kMicrocodePieceBytes = 32768;
// Block offsets are 16 bits: larger images cannot be addressed.
inline constexpr uint64_t kMaxMicrocodeImageBytes = 65536ull * 512;

// ReadConfigId: how often log 0xE0 is read, and how far apart, before the
// read gives up.
inline constexpr int kConfigIdPolls = 50;
inline constexpr uint32_t kConfigIdPollMs = 100;

// The file-dialog filter of the manual path.
inline constexpr const char* kFirmwareFileFilter = "fw File(*.vic)|*.vic|All Files(*.*)|*.*||";
// The page opened for NVMe drives, whose firmware comes from the maker's
// product pages rather than from the update server.
inline constexpr const char* kProductPageAddress = "https://www.quarn.example/ssd/support";

// Progress of DownloadMicrocode after each piece the drive accepted.
using MicrocodeProgress =
    std::function<void(int32_t piece, uint64_t bytesSent, uint64_t fileBytes)>;

// Sends the file to the drive in pieces; nonzero when the drive accepted
// every piece. An empty file, or one beyond kMaxMicrocodeImageBytes, sends
// nothing and fails. A piece the drive aborts (error bit in the status it
// returned) fails the transfer as a failed request does; `why`, when given,
// says which piece and how.
uint32_t DownloadMicrocode(const std::string& filePath, const std::string& devicePath,
                           uint8_t deviceRegister, uint8_t mode, uint8_t blockCount,
                           const MicrocodeProgress& progress = {}, std::string* why = nullptr);

// Reads the drive's config ID through SCT action 0xC000 (logs 0xE0/0xE1).
// Nonzero on success; `configId` gets its bytes up to the first NUL.
uint32_t ReadConfigId(const std::string& devicePath, std::string* configId);

// What the update asks of the user and its caller.
class FirmwareUpdateUi {
 public:
  virtual ~FirmwareUpdateUi() = default;
  // The text of string `id` in the user's language.
  virtual std::string String(int32_t id) = 0;
  // A message box (notices, errors, information).
  virtual void Message(const std::string& text) = 0;
  // A Yes/No question; true for Yes.
  virtual bool Confirm(const std::string& text) = 0;
  // The file dialog of the manual path; false when cancelled.
  virtual bool ChooseImageFile(const std::string& filter, std::string* path) = 0;
  // After each piece the drive accepted.
  virtual void Progress(int32_t /*piece*/, uint64_t /*bytesSent*/, uint64_t /*fileBytes*/) {}
};

struct FirmwareUpdateOptions {
  int32_t RunningOperationCode = 0;
  bool UpgradeFwSwitch = false;  // "-UpgradeFw" on the command line
  uint16_t Language = 1033;
  std::string ToolVersion;      // major.minor.build of the running program
  std::string DownloadFolder;   // empty: the current directory
};

// How an update ended.
enum class FirmwareUpdateEnd {
  Busy,              // another operation runs; nothing was done
  NotOurs,           // not the maker's drive
  ProductPage,       // NVMe: the product page was opened
  ServerFailed,      // a query failed (support list, version or firmware)
  ProgramOutdated,   // the program itself must be upgraded first
  AlreadyLatest,     // nothing newer for this drive
  Declined,          // the user said No, or cancelled the file dialog
  DownloadFailed,    // the image did not arrive whole and checked
  DriveFailed,       // the drive refused a piece
  Updated,           // the drive accepted every piece (online) or reports the new revision (manual)
  NotUpdated,        // manual path: the drive took the image but kept its revision
  FullPackage,       // the model needs a full package (opened in the browser)
};

struct FirmwareUpdateOutcome {
  FirmwareUpdateEnd End = FirmwareUpdateEnd::Busy;
  int32_t StringId = 0;   // the string of the last message, 0 for a fixed text or none
  int32_t EventId = -1;   // -1 when the ending has none
  std::string Message;    // the last message shown
  int32_t DownloadResult = 0;
  std::string FromRevision;
  std::string ToRevision;
  std::string ImagePath;
  std::string Detail;  // why DOWNLOAD MICROCODE failed, when it did
  // Manual path: the drive read again after the update (valid when Refreshed).
  bool Refreshed = false;
  PhysicalDriveRecord Fresh;
};

FirmwareUpdateOutcome UpdateFirmware(const PhysicalDriveRecord& drive,
                                     const FirmwareUpdateOptions& options, FirmwareUpdateUi& ui);

}  // namespace zel
