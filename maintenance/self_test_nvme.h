// The NVMe self-test: Device Self-test sent to the controller and followed
// through the Device Self-test log, mapped onto the SMART self-test's
// result codes.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/drive_record.h"
#include "maintenance/self_test.h"

namespace zel {

// Identify Controller's OACS bit 4.
bool NvmeSupportsDeviceSelfTest(const PhysicalDriveRecord& drive);

// Result code for the result field (bits 3:0) of a Device Self-test log
// entry; 0 for an unused entry.
int32_t NvmeSelfTestResultCode(uint8_t resultField);

SelfTestOutcome RunNvmeSelfTest(const PhysicalDriveRecord& drive, int32_t kind,
                                const SelfTestProgressSink& progress,
                                const std::atomic<bool>& cancel);
uint32_t AbortNvmeSelfTest(const PhysicalDriveRecord& drive);

}  // namespace zel
