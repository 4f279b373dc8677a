// diskpart on the real machine. The system report starts
// "...\diskpart.exe /s SCRIPT" with a script of "select disk N" and
// "detail disk"; Linux has no diskpart, so the backend reads the script the
// way diskpart does and answers each line itself, with a description of the
// disk made from sysfs, the disk's first sectors and the mount table. No
// program is started and no shell is involved.
#pragma once

#include <string>

#include "platform/linux/disks.h"

namespace zel::linuxbackend {

class LinuxMachine;

// Carries out "diskpart /s SCRIPT": the script is read from the path after
// "/s" (relative to the current directory, "\" read as "/", quotes
// allowed), one command per line; blank lines and "rem" lines are skipped,
// "select disk N" and "detail disk" are answered, and the first other line
// ends the script as diskpart ends it at an error. Every line of the answer
// ends in CR LF. UTF-8.
std::string RunDiskpart(const LinuxMachine& machine, const std::string& commandLine);

// The "detail disk" text of one numbered disk: model, disk identifier and
// partition style (from its first sectors), bus, size, SCSI address, device
// node, read-only state, whether the root file system and swap lie on it,
// then one line per partition with its drive letter, label, file system
// and size.
std::string DiskDetailText(const LinuxMachine& machine, const DiskScan& scan, const LinuxDisk& disk);

}  // namespace zel::linuxbackend
