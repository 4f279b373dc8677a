// Reading the files of the simulated machine's volumes from the machine
// file: folders and files with sizes, content, attributes and times, the
// cluster size, and the faults of the file calls.
#include <cstdio>
#include <ctime>

#include "platform/device_io.h"
#include "platform/sim/machine.h"
#include "platform/sim/sim_files_model.h"
#include "platform/text.h"

namespace zel::sim::simfs {

using platform::FILE_ATTRIBUTE_DIRECTORY;
using platform::FILE_DEVICE_CD_ROM;

std::string Upper(std::string_view s) { return ToUpperAscii(s); }

std::string ParentKey(const std::string& key) {
  size_t at = key.rfind('\\');
  return at == std::string::npos ? std::string() : key.substr(0, at);
}

bool ValidName(const std::string& name) {
  for (char c : name) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::string_view("<>:\"|?*").find(c) != std::string_view::npos) return false;
  }
  return true;
}

std::vector<Fault> ReadFaults(const Json& section, const std::string& where) {
  std::vector<Fault> faults;
  if (!section.contains("faults")) return faults;
  const Json& list = section["faults"];
  if (!list.is_array()) throw FixtureError(where + ".faults: expected a list");
  for (size_t i = 0; i < list.size(); ++i) {
    std::string at = where + ".faults[" + std::to_string(i) + "]";
    CheckKeys(list[i], {"call", "path", "error", "times", "comment"}, at);
    Fault f;
    f.call = TextOr(list[i], "call", "", at);
    if (f.call.empty()) throw FixtureError(at + ".call: expected the name of a file call or \"any\"");
    f.path = TextOr(list[i], "path", "", at);
    f.error = static_cast<uint32_t>(NumberOr(list[i], "error", ERROR_GEN_FAILURE, at));
    f.times = list[i].contains("times") ? static_cast<int64_t>(NumberOr(list[i], "times", 0, at)) : -1;
    faults.push_back(std::move(f));
  }
  return faults;
}

namespace {

uint32_t AttributesFrom(const Json& value, const std::string& at) {
  if (!value.is_array()) return static_cast<uint32_t>(ToNumber(value, at));
  uint32_t bits = 0;
  for (const Json& name : value) {
    std::string n = name.is_string() ? name.get<std::string>() : std::string();
    if (n == "readonly") bits |= FILE_ATTRIBUTE_READONLY;
    else if (n == "hidden") bits |= FILE_ATTRIBUTE_HIDDEN;
    else if (n == "system") bits |= FILE_ATTRIBUTE_SYSTEM;
    else if (n == "archive") bits |= FILE_ATTRIBUTE_ARCHIVE;
    else throw FixtureError(at + ": expected \"readonly\", \"hidden\", \"system\" or \"archive\"");
  }
  return bits;
}

// One entry of a volume's "files": its parent folders are made as needed;
// the listed files are already counted in the volume's free space.
void AddNode(Volume& v, const Json& entry, const std::string& at, int64_t now) {
  CheckKeys(entry, {"path", "folder", "size", "content", "attributes", "written", "comment"}, at);
  std::string path = TextOr(entry, "path", "", at);
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty()) continue;
    if (part == "." || part == ".." || !ValidName(part))
      throw FixtureError(at + ".path: \"" + part + "\" is not a name a file can have");
    parts.push_back(part);
  }
  if (parts.empty()) throw FixtureError(at + ".path: expected a path inside the volume");
  std::string key;
  for (size_t i = 0; i < parts.size(); ++i) {
    key += (key.empty() ? "" : "\\") + Upper(parts[i]);
    const bool last = i + 1 == parts.size();
    auto it = v.nodes.find(key);
    if (it != v.nodes.end()) {
      if (last || !it->second.folder)
        throw FixtureError(at + ".path: " + path + " is listed twice or lies below a file");
      continue;
    }
    Node n;
    n.name = parts[i];
    n.folder = !last || BoolOr(entry, "folder", false, at);
    n.attributes = n.folder ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    n.created = n.written = n.accessed = now;
    if (last) {
      if (entry.contains("attributes"))
        n.attributes = (AttributesFrom(entry["attributes"], at + ".attributes") & kChangeableAttributes) |
                       (n.folder ? FILE_ATTRIBUTE_DIRECTORY : 0);
      if (entry.contains("written")) {
        std::string text = TextOr(entry, "written", "", at);
        struct tm tmv {};
        int y, mo, d, h = 0, mi = 0, s = 0;
        if (std::sscanf(text.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s) < 3)
          throw FixtureError(at + ".written: expected a UTC time such as \"2026-12-01T09:00:00Z\"");
        tmv.tm_year = y - 1900;
        tmv.tm_mon = mo - 1;
        tmv.tm_mday = d;
        tmv.tm_hour = h;
        tmv.tm_min = mi;
        tmv.tm_sec = s;
        n.created = n.written = n.accessed = static_cast<int64_t>(timegm(&tmv)) * 1000;
      }
      if (!n.folder) {
        n.hasContent = entry.contains("content");
        n.content = TextOr(entry, "content", "", at);
        if (n.content.size() > kMaxContentBytes) throw FixtureError(at + ".content: too long");
        n.size = NumberOr(entry, "size", n.content.size(), at);
        if (n.size < n.content.size()) throw FixtureError(at + ".size: smaller than its content");
      } else if (entry.contains("size") || entry.contains("content")) {
        throw FixtureError(at + ": a folder has no size or content");
      }
    }
    v.nodes.emplace(key, std::move(n));
  }
}

}  // namespace

Volume LoadVolume(const SimVolume& sv, const std::string& where, int64_t now) {
  const Json& e = sv.entry;
  char letter = static_cast<char>(ToUpperAscii(sv.letter)[0]);
  if (letter < 'A' || letter > 'Z') throw FixtureError(where + ".letter: expected a letter A to Z");
  Volume v;
  v.letter = letter;
  v.fileSystem = sv.fileSystem;
  v.size = sv.sizeBytes;
  v.free = sv.freeBytes;
  v.noMedium = sv.deviceType == FILE_DEVICE_CD_ROM && sv.sizeBytes == 0;
  uint64_t cluster = NumberOr(e, "clusterSize", 4096, where);
  if (cluster < 512 || cluster > (2u << 20) || cluster % 512 != 0)
    throw FixtureError(where + ".clusterSize: expected a multiple of 512 up to 2 MiB");
  v.cluster = static_cast<uint32_t>(cluster);
  v.faults = ReadFaults(e, where);
  if (!e.contains("files")) return v;
  const Json& list = e["files"];
  if (!list.is_array()) throw FixtureError(where + ".files: expected a list");
  for (size_t i = 0; i < list.size(); ++i)
    AddNode(v, list[i], where + ".files[" + std::to_string(i) + "]", now);
  return v;
}

}  // namespace zel::sim::simfs
