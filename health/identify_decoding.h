// IDENTIFY decoding: the identity texts of a drive (model, serial number,
// firmware revision) from its ATA IDENTIFY DEVICE or NVMe Identify Controller
// page, the world wide name, the SATA transport version and the negotiated
// SATA link speed, and the short descriptions of the 256 IDENTIFY words.
//
// Nothing here fails or keeps state; every operation works on the buffers it
// is given and runs on whichever thread calls it.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "device/drive_record.h"

namespace zel {

// Removes the trailing blanks (0x20) of a NUL-terminated 8-bit string by
// overwriting them with NUL bytes up to the old end of the string. Leading
// blanks and blanks inside the text stay; a text of blanks becomes empty.
void TrimTrailingBlanks(char* text);

// Fills SerialNumber, FirmwareRevision and ModelName from the page of the
// drive's bus type: NVMe drives from NvmeIdentifyData (text fields stored in
// reading order), every other drive from IdentifyData. For the latter the
// serial number, firmware revision and model words are byte-swapped in place
// first, so that afterwards they read in text order in the record too; call
// it once for each freshly read IDENTIFY page (a second call swaps them back).
//
// The bytes of a field are read up to the first NUL, trailing blanks are
// dropped and the rest is converted from the current C locale's multibyte
// encoding; bytes that the locale cannot convert come through as their own
// code points, so the conversion never fails. The results are limited to 20,
// 8 and 40 UTF-16 units.
void DecodeIdentifyStrings(PhysicalDriveRecord& record);

// The SATA transport version from IDENTIFY word 222: "ATA8-AST", "SATA 1.0a",
// "SATA II Ext", "SATA 2.5", "SATA 2.6", "SATA 3.0", "SATA 3.1", "SATA >3.1",
// or "N/A" when the transport is not serial (or the page was never read).
std::string GetSataVersionText(const PhysicalDriveRecord& record);

// The negotiated SATA link speed from IDENTIFY word 77: "1.5 Gb/s",
// "3.0 Gb/s", "6.0 Gb/s", ">6.0 Gb/s", or "N/A" when the transport is not
// serial, bit 0 of the word is set, or no speed is reported.
std::string GetSataLinkSpeedText(const PhysicalDriveRecord& record);

// IDENTIFY words 108, 109, 110 and 111 as sixteen upper-case hexadecimal
// digits, word 108 first ("%04X%04X%04X%04X"). Sixteen zeros for a drive
// whose IDENTIFY page is empty, such as an NVMe drive.
std::string GetWorldWideNameText(const PhysicalDriveRecord& record);

// The longest description of the word dictionary, in UTF-16 units (each
// description has a slot of 80 characters with its NUL).
inline constexpr size_t kIdentifyWordDescriptionChars = 79;

// One short description per IDENTIFY word number, for the raw-word list of
// the details popup and the report.
extern const std::array<std::string_view, 256> IdentifyWordDescriptions;

}  // namespace zel
