// The drive commands of the firmware update: DOWNLOAD MICROCODE of an image
// file in pieces, and reading the config ID through the vendor SCT action.
#include <vector>

#include "device/ata_command.h"
#include "log/log.h"
#include "maintenance/firmware.h"
#include "platform/format.h"
#include "platform/platform.h"

namespace zel {
namespace {

constexpr uint8_t kSctCommandLog = 0xE0;
constexpr uint8_t kSctDataLog = 0xE1;
constexpr size_t kSctStateOffset = 10;
constexpr size_t kConfigIdOffset = 16;

// Reads until `size` bytes are in or the file ends; the bytes read.
uint32_t ReadUpTo(platform::Files& files, platform::HANDLE file, uint8_t* buffer, uint32_t size) {
  uint32_t total = 0;
  while (total < size) {
    uint32_t got = 0;
    if (!files.ReadFile(file, buffer + total, size - total, &got) || got == 0) break;
    total += got;
  }
  return total;
}

}  // namespace

uint32_t DownloadMicrocode(const std::string& filePath, const std::string& devicePath,
                           uint8_t deviceRegister, uint8_t mode, uint8_t blockCount,
                           const MicrocodeProgress& progress, std::string* why) {
  auto fail = [why](std::string text) {
    if (why) *why = std::move(text);
    return 0u;
  };
  platform::Files& files = platform::Current().Files();
  platform::HANDLE file = files.CreateFileW(filePath, platform::GENERIC_READ,
                                            platform::FILE_SHARE_READ, platform::OPEN_EXISTING,
                                            platform::FILE_ATTRIBUTE_NORMAL);
  if (file == platform::INVALID_HANDLE_VALUE) {
    LogTraceF("Open firmware file error:%s", filePath.c_str());
    return fail("the image file cannot be opened");
  }
  uint64_t fileBytes = 0;
  files.GetFileSizeEx(file, &fileBytes);
  // An empty image would report an update that never happened, and block
  // offsets beyond 16 bits would wrap onto the first pieces.
  if (fileBytes == 0 || fileBytes > kMaxMicrocodeImageBytes) {
    LogTraceF("Firmware file size not usable (%llu bytes):%s",
              static_cast<unsigned long long>(fileBytes), filePath.c_str());
    files.CloseHandle(file);
    return fail(fileBytes == 0 ? "the image file is empty" : "the image file is larger than 32 MiB");
  }
  ATACommand ata;
  std::vector<uint8_t> piece(kMicrocodePieceBytes);
  uint16_t blockOffset = 0;
  int32_t number = 0;
  uint64_t sent = 0;
  for (;;) {
    std::fill(piece.begin(), piece.end(), 0);
    uint32_t read = ReadUpTo(files, file, piece.data(), kMicrocodePieceBytes);
    if (read == 0) break;
    uint8_t status = 0, error = 0;
    if (!ata.SendAtaCommandPdWithStatus(devicePath, deviceRegister, kDownloadMicrocodeCommand,
                                        mode, blockCount, 0, blockOffset & 0xFF,
                                        static_cast<uint8_t>(blockOffset >> 8), piece.data(),
                                        kMicrocodePieceBytes, ATA_FLAGS_DATA_OUT, &status,
                                        &error)) {
      files.CloseHandle(file);
      return fail(Format("piece %d (block offset %u) was not carried to the drive (error %u)",
                         number, static_cast<unsigned>(blockOffset), platform::GetLastError()));
    }
    // The request went through; the drive's own verdict is in its status.
    if (status & 0x01) {
      LogTraceF("%d DownloadMicrocode--the drive aborted the piece (status 0x%02X, error 0x%02X)",
                number, status, error);
      files.CloseHandle(file);
      return fail(Format("the drive aborted piece %d (block offset %u): status 0x%02X, error 0x%02X",
                         number, static_cast<unsigned>(blockOffset), status, error));
    }
    blockOffset = static_cast<uint16_t>(blockOffset + blockCount);
    LogTraceF("%d DownloadMicrocode--read %d bytes", number, static_cast<int>(read));
    ++number;
    sent += read;
    if (progress) progress(number, sent, fileBytes);
  }
  files.CloseHandle(file);
  return 1;
}

uint32_t ReadConfigId(const std::string& devicePath, std::string* configId) {
  ATACommand ata;
  std::vector<uint8_t> block(512, 0);
  block[1] = 0xC0;
  if (!ata.SmartWriteLogPd(devicePath, 0, 1, kSctCommandLog, block.data())) return 0;
  bool ready = false;
  for (int poll = 0; poll < kConfigIdPolls && !ready; ++poll) {
    if (poll > 0) platform::Sys().Sleep(kConfigIdPollMs);
    std::fill(block.begin(), block.end(), 0);
    ready = ata.SmartReadLogPd(devicePath, 0, 1, kSctCommandLog, block.data()) &&
            block[kSctStateOffset] == 0;
  }
  if (!ready) {
    LogTraceF("ReadConfigId--the drive was not ready after %d reads", kConfigIdPolls);
    return 0;
  }
  std::fill(block.begin(), block.end(), 0);
  if (!ata.SmartReadLogPd(devicePath, 0, 1, kSctDataLog, block.data())) return 0;
  const uint8_t* id = block.data() + kConfigIdOffset;
  LogTraceF("Config ID--0x%02X 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X 0x%02X", id[0], id[1],
            id[2], id[3], id[4], id[5], id[6], id[7]);
  configId->clear();
  // The ID travels in a query string: it ends at the first byte that is not
  // printable ASCII (normally its NUL).
  for (int i = 0; i < 8 && id[i] > 0x20 && id[i] < 0x7F; ++i)
    configId->push_back(static_cast<char>(id[i]));
  return 1;
}

}  // namespace zel
