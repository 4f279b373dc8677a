#include "report/dvt_mode.h"

#include <locale.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

#include "health/smart_health.h"
#include "log/log.h"
#include "platform/errors.h"
#include "platform/file_util.h"
#include "platform/platform.h"
#include "platform/format.h"
#include "platform/text.h"
#include "report/dvt_result_files.h"

namespace zel {

namespace {

using U16View = std::u16string_view;
constexpr size_t kNone = U16View::npos;

// Longest accepted text of each field, in characters (UTF-16 units).
constexpr size_t kIdChars = 9;
constexpr size_t kValueChars = 99;
constexpr size_t kRawBytesChars = 9;
constexpr size_t kFormulaChars = 199;
constexpr size_t kIdentifyNumberChars = 9;
constexpr size_t kExpectedChars = 511;

constexpr uint32_t kLastIdentifyWord = 255;
constexpr uint32_t kLastBit = 15;
constexpr uint32_t kMaxRawBytes = 6;
// A hexadecimal MAX field longer than this does not fit in 64 bits.
constexpr size_t kWideHexDigits = 16;
// Messages of the generic word ranges are cut to this many characters.
constexpr size_t kRangeMessageChars = 300;

std::string U8(U16View text) { return Utf16ToUtf8(text); }

// White space skipped by the C runtime's number conversions.
// White space the criteria fields lose at their end: " \n\r\t".
bool IsTrailingSpace(char16_t c) { return c == u' ' || c == u'\n' || c == u'\r' || c == u'\t'; }

U16View TrimTrailing(U16View t) {
  while (!t.empty() && IsTrailingSpace(t.back())) t.remove_suffix(1);
  return t;
}
U16View TrimLeadingBlanks(U16View t) {
  while (!t.empty() && t.front() == u' ') t.remove_prefix(1);
  return t;
}
std::string TrimTrailing(std::string t) {
  while (!t.empty() && (t.back() == ' ' || t.back() == '\n' || t.back() == '\r' || t.back() == '\t'))
    t.pop_back();
  return t;
}

// A hexadecimal field of up to 16 digits: up to 8 characters are one 32-bit
// value; 9 to 16 characters are a high part (all but the last 8) and a low
// part (the last 8).
uint64_t ToWideHex(U16View t) {
  if (t.size() <= 8) return ParseUnsigned(t, 16).value;
  uint64_t high = ParseUnsigned(t.substr(0, t.size() - 8), 16).value;
  uint64_t low = ParseUnsigned(t.substr(t.size() - 8), 16).value;
  return (high << 32) | low;
}

// The platform's wide-string-to-double conversion, which reads numbers with
// "." as the decimal point whatever the user's locale.
double ToDouble(const std::string& text, size_t* used) {
  static locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  char* end = nullptr;
  double d = cLocale ? strtod_l(text.c_str(), &end, cLocale) : std::strtod(text.c_str(), &end);
  *used = static_cast<size_t>(end - text.c_str());
  return d;
}

// A step result truncated toward zero, kept within the unsigned 64-bit range
// (a negative result is 0, a result beyond the range its largest value, a
// result that is not a number 0), so no formula can make the conversion
// undefined.
uint64_t TruncateParseUnsigned(double d) {
  if (std::isnan(d) || d <= 0) return 0;
  if (d >= 18446744073709551616.0) return UINT64_MAX;
  return static_cast<uint64_t>(d);
}

// The report file is named after the drive's serial number: characters that
// would leave the program's folder or that no file name may hold become "_".
std::string ReportTag(const std::string& serial) {
  std::string tag = serial;
  for (char& c : tag) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F || std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos)
      c = '_';
  }
  return tag;
}

// Reads the whole criteria file; its content ends at the first zero byte.
// Failures write their trace line and return false.
bool ReadCriteriaFile(const std::string& path, std::string* content, std::string* why) {
  std::string bytes;
  uint32_t error = 0;
  bool opened = false;
  std::string refusal;
  // A regular file of bounded size only: a FIFO would block the run and a
  // device could be read without end.
  if (!platform::ReadRegularFile(platform::Current().Files(), path, kMaxDvtCriteriaBytes, &bytes,
                                 &error, &refusal, &opened)) {
    LogTraceF(opened ? "read file error: 0x%x!!!" : "open file error: 0x%x!!!", error);
    if (!refusal.empty())
      *why = "the criteria file " + path + " is " + refusal + ", not a regular file";
    else if (error == platform::ERROR_FILE_TOO_LARGE)
      *why = "the criteria file " + path + " is larger than the limit of 16 MiB";
    else
      *why = Format("the criteria file %s cannot be %s (error %u)", path.c_str(),
                    opened ? "read" : "opened", error);
    return false;
  }
  content->assign(bytes.begin(), std::find(bytes.begin(), bytes.end(), '\0'));
  return true;
}

bool TryReserve(std::string& s, size_t n) {
  try {
    s.reserve(n);
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

enum class ExtraCheck { None, Temperature, RemainingLife, TotalWritten };

// The checks of one run on a copy of the drive record.
class DvtRun {
 public:
  DvtRun(const PhysicalDriveRecord& record, std::string tag) : r_(record), tag_(std::move(tag)) {}

  void WriteReport(const std::string& criteriaName, uint32_t diskNumber);
  void CheckSmartLine(U16View line);
  // False when the run must stop (its work memory could not be had).
  bool CheckIdentifyLine(U16View line);
  void WriteSummary() const;
  bool Passed() const {
    return counts_.smartPassed == counts_.smartLines && counts_.identifyPassed == counts_.identifyLines;
  }
  const DvtCounts& Counts() const { return counts_; }

 private:
  void Report(const std::string& text) const { DvtReportLine(tag_, text); }
  uint16_t Word(uint32_t i) const { return r_.IdentifyWord(static_cast<int>(i)); }
  // False only when the run must stop.
  bool CheckIdentifyRange(U16View line, int& errors);
  void CheckIdentifyBit(U16View line, int& errors, bool& endedAtOnce);
  bool CompareWords(uint32_t w1, uint32_t w2, U16View expected, int& errors);

  PhysicalDriveRecord r_;
  std::string tag_;
  DvtCounts counts_;
};

void DvtRun::WriteReport(const std::string& criteriaName, uint32_t diskNumber) {
  Report(Format("Spec file: %s\n         Physical Drive: %d, Model: %s\n", criteriaName.c_str(),
                static_cast<int>(diskNumber), r_.ModelName.c_str()));
  Report("ID-SMART ID, CV-Current Value, TV-Threshold Value, RV-Reserved Value\n");
  Report("ID:Flag:CV:TV:RV:   Raw Value");
  for (int j = 0; j < kSmartEntryCount; ++j) {
    const SmartAttributeEntry& a = r_.SmartAttributes[j];
    const SmartThresholdEntry& t = r_.SmartThresholds[j];
    if (a.Id() == 0 || t.Id() != a.Id()) continue;
    Report(Format("%02X:%02X%02X:%02X:%02X:%02X:%02X%02X%02X%02X%02X%02X", a.Id(), a.bytes[2], a.bytes[1],
                  a.Current(), t.Threshold(), a.Reserved(), a.Raw(5), a.Raw(4), a.Raw(3), a.Raw(2),
                  a.Raw(1), a.Raw(0)));
  }
  Report("\n         Identify Table");
  Report("      00   01   02   03   04   05   06   07   08   09   0A   0B   0C   0D   0E   0F");
  for (uint32_t row = 0; row < 16; ++row) {
    std::string line = Format("0%X0", row);
    for (uint32_t k = 0; k < 16; ++k) line += Format(" %04X", Word(16 * row + k));
    Report(line);
  }
  Report("\n");
}

void DvtRun::CheckSmartLine(U16View line) {
  ++counts_.smartLines;
  int errors = 0;
  auto fail = [&](const std::string& text) { DvtFailLine(text); };

  // Nine fields; the ninth is the rest of the line.
  U16View field[9];
  size_t start = 0;
  int commas = 0;
  for (; commas < 8; ++commas) {
    size_t c = line.find(u',', start);
    if (c == kNone) break;
    field[commas] = line.substr(start, c - start);
    start = c + 1;
  }
  if (commas < 8) {
    // The comma ending field commas + 1 is missing. A line that stops after
    // field 1, 4, 7 or 8 checks nothing and has no error.
    int missing = commas + 1;
    if (missing == 2 || missing == 3 || missing == 5 || missing == 6) {
      fail(Format("SAMRT info format error. SMART ID:0x%s", U8(field[0]).c_str()));
      ++errors;
    }
    if (errors == 0) ++counts_.smartPassed;
    return;
  }
  field[8] = line.substr(start);

  U16View keyword = TrimLeadingBlanks(field[7]);
  ExtraCheck extra = ExtraCheck::None;
  U16View formula;
  if (keyword == u"TBW") {
    extra = ExtraCheck::TotalWritten;
    formula = TrimTrailing(TrimLeadingBlanks(field[8]));
  } else if (keyword == u"Temperature") {
    extra = ExtraCheck::Temperature;
  } else if (keyword == u"Remaining Life") {
    extra = ExtraCheck::RemainingLife;
  }

  U16View idText = TrimTrailing(field[0]);
  UnsignedNumber idNumber = ParseUnsigned(idText, 16);
  if (idNumber.stray || idText.size() > kIdChars || idNumber.value >= 256) {
    fail(Format("SAMRT ID:%s format error.", U8(idText).c_str()));
    return;
  }
  const unsigned id = idNumber.value;

  int j = 0;
  while (j < kSmartEntryCount && !(r_.SmartAttributes[j].Id() == id && r_.SmartThresholds[j].Id() == id)) ++j;
  if (j == kSmartEntryCount) {
    fail(Format("SMART ID 0x%02x not exist!", id));
    return;
  }
  const SmartAttributeEntry& attr = r_.SmartAttributes[j];
  const unsigned driveThreshold = r_.SmartThresholds[j].Threshold();
  const unsigned current = attr.Current();

  // Threshold.
  U16View thresholdText = TrimTrailing(field[3]);
  UnsignedNumber threshold = ParseUnsigned(thresholdText, 16);
  if (threshold.stray || thresholdText.size() > kValueChars) {
    fail(Format("SMART attribute ID:0x%02X. Threshold format error.", id));
    ++errors;
  }
  if (driveThreshold != threshold.value) {
    fail(Format("SMART attribute ID:0x%02X Threshold value not match. Threshold:0x%02x", id, driveThreshold));
    ++errors;
  }

  // Current value range.
  U16View maxText = TrimTrailing(field[1]);
  uint64_t max = 0;
  if (maxText.size() > kWideHexDigits) {
    fail(Format("SMART attribute ID:0x%02X. Current MAX format error.", id));
    ++errors;
  } else {
    max = ToWideHex(maxText);
  }
  if (ParseUnsigned(maxText, 16).stray) {
    fail(Format("SMART attribute ID:0x%02X. MAX value format error.", id));
    ++errors;
  }
  U16View minText = TrimTrailing(field[2]);
  UnsignedNumber min = ParseUnsigned(minText, 16);
  if (min.stray || minText.size() > kValueChars) {
    fail(Format("SMART attribute ID:0x%02X. MIN value format error.", id));
    ++errors;
  }
  if (max >= min.value) {
    if (current > max) {
      fail(Format("SMART attribute ID:0x%02X error. Current value bigger than MAX.", id));
      fail(Format("Current value(0x%X)", current));
      fail(Format("MAX(0x%X).\n", static_cast<unsigned>(max)));
      ++errors;
    }
    if (current < min.value) {
      fail(Format("SMART attribute ID:0x%02X error. Current value(0x%X) smaller than MIN(0x%X).", id, current,
                  min.value));
      ++errors;
    }
  } else {
    fail(Format("SMART attribute ID:0x%02X format error. MAX(%d) < MIN(%d).", id, static_cast<int>(max),
                static_cast<int>(min.value)));
    ++errors;
  }

  // Raw value range and the keyword's check.
  U16View rawBytesText = TrimTrailing(field[4]);
  UnsignedNumber rawBytes = ParseUnsigned(rawBytesText, 10);
  if (rawBytes.stray || rawBytesText.size() > kRawBytesChars || rawBytes.value > kMaxRawBytes) {
    fail(Format("SMART attribute ID:0x%02X. Raw Bytes format error.", id));
    ++errors;
  } else {
    uint64_t raw = attr.Raw(0);
    for (uint32_t k = 1; k < rawBytes.value; ++k) raw += static_cast<uint64_t>(attr.Raw(static_cast<int>(k))) << (8 * k);

    U16View rawMaxText = TrimTrailing(TrimLeadingBlanks(field[5]));
    uint64_t rawMax = 0;
    if (rawMaxText.size() > kWideHexDigits) {
      fail(Format("SMART attribute ID:0x%02X. Raw MAX format error.", id));
      ++errors;
    } else {
      rawMax = ToWideHex(rawMaxText);
    }
    U16View rawMinText = field[6];
    UnsignedNumber rawMin = ParseUnsigned(rawMinText, 16);
    if (rawMin.stray || rawMinText.size() > kValueChars) {
      fail(Format("SMART attribute ID:0x%02X. Raw MIN format error.", id));
      ++errors;
    }
    if (rawMax >= rawMin.value) {
      if (raw > rawMax) {
        fail(Format("SMART attribute ID:0x%02X error: Raw value is bigger than MAX.", id));
        fail(Format("Raw value(0x%X)", static_cast<unsigned>(raw)));
        fail(Format("MAX Raw value(0x%X).\n", static_cast<unsigned>(rawMax)));
        ++errors;
      }
      if (raw < rawMin.value) {
        fail(Format("SMART attribute ID:0x%02X error. Raw value(0x%X) smaller than MIN(0x%X).", id,
                    static_cast<unsigned>(raw), rawMin.value));
        ++errors;
      }
    } else {
      fail(Format("SMART attribute ID:0x%02X format error. Raw MAX(%d) < Raw MIN(%d).", id,
                  static_cast<int>(rawMax), static_cast<int>(rawMin.value)));
      ++errors;
    }

    switch (extra) {
      case ExtraCheck::Temperature: {
        uint16_t temperature = GetDriveTemperature(r_);
        if (temperature != raw) {
          fail(Format("SMART attribute ID:0x%02X error. Temperature(%d) mis-match(%d).", id,
                      static_cast<int>(raw), static_cast<int>(temperature)));
          ++errors;
        }
        break;
      }
      case ExtraCheck::RemainingLife: {
        int32_t life = GetRemainingLife(r_);
        if (static_cast<uint8_t>(life) != current) {
          fail(Format("SMART attribute ID:0x%02X error. Remaining Life(%d) mis-match(%d).", id,
                      static_cast<int>(current), life));
          ++errors;
        }
        break;
      }
      case ExtraCheck::TotalWritten: {
        uint64_t result = 0;
        if (formula.size() > kFormulaChars || !EvaluateDvtFormula(U8(formula), raw, &result)) {
          fail(Format("SAMRT ID:%s formula format error.", U8(idText).c_str()));
          ++errors;
          break;
        }
        int64_t total = GetTotalBytesWritten(r_);
        if (result != static_cast<uint64_t>(total)) {
          fail(Format("SAMRT ID:%s TBW(0x%X) does not match to Zelvane.", U8(idText).c_str(),
                      static_cast<unsigned>(result)));
          fail(Format("TBW of Zelvane is 0x%X", static_cast<unsigned>(total)));
          ++errors;
        }
        break;
      }
      case ExtraCheck::None:
        break;
    }
  }

  if (errors == 0) ++counts_.smartPassed;
}

bool DvtRun::CheckIdentifyLine(U16View line) {
  ++counts_.identifyLines;
  int errors = 0;
  if (line.find(u'-') != kNone) {
    if (!CheckIdentifyRange(line, errors)) return false;
  } else {
    bool endedAtOnce = false;
    CheckIdentifyBit(line, errors, endedAtOnce);
    if (endedAtOnce) return true;
  }
  if (errors > 0) {
    DvtFailLine("Identify Table Error!!!");
  } else {
    ++counts_.identifyPassed;
  }
  return true;
}

bool DvtRun::CheckIdentifyRange(U16View line, int& errors) {
  const std::string whole = U8(line);
  auto formatError = [&](int n) {
    Report(Format("%d. Identify format error:%s", n, whole.c_str()));
    ++errors;
  };
  size_t dash = line.find(u'-');
  U16View w1Text = line.substr(0, dash);
  UnsignedNumber w1 = ParseUnsigned(w1Text, 10);
  bool w1Usable = w1Text.size() <= kIdentifyNumberChars && w1.value <= kLastIdentifyWord;
  if (w1.stray || !w1Usable) formatError(1);

  size_t comma = line.find(u',');
  if (comma == kNone) {
    formatError(4);
    return true;
  }
  if (dash > comma) {
    formatError(3);
    return true;
  }
  U16View w2Text = line.substr(dash + 1, comma - dash - 1);
  UnsignedNumber w2 = ParseUnsigned(w2Text, 10);
  bool w2Usable = w2Text.size() <= kIdentifyNumberChars && w2.value <= kLastIdentifyWord &&
                  (!w1Usable || w2.value >= w1.value);
  if (w2.stray || !w2Usable) formatError(2);

  U16View expected = line.substr(comma + 1);
  if (expected.size() > kExpectedChars) {
    formatError(4);
    return true;
  }
  if (!w1Usable || !w2Usable) return true;  // no words to compare
  return CompareWords(w1.value, w2.value, expected, errors);
}

bool DvtRun::CompareWords(uint32_t w1, uint32_t w2, U16View expectedText, int& errors) {
  const size_t n = w2 - w1 + 1;
  const std::string expected = U8(expectedText);

  if ((w1 == 23 && w2 == 26) || (w1 == 27 && w2 == 46)) {
    // Firmware revision, model number: text in reading order.
    std::string actual, expectedCut;
    if (!TryReserve(actual, 2 * n + 1)) {
      Report("Can't allocate memory 1");
      return false;
    }
    if (!TryReserve(expectedCut, 4 * (2 * n) + 1)) {
      Report("Can't allocate memory 2");
      return false;
    }
    const uint8_t* bytes = &r_.IdentifyData[2 * w1];
    actual = Latin1ToUtf8(std::string_view(reinterpret_cast<const char*>(bytes),
                                           std::find(bytes, bytes + 2 * n, 0) - bytes));
    expectedCut = TruncateUtf16(expected, 2 * n);
    if (TrimTrailing(actual) != TrimTrailing(expectedCut)) {
      std::string message = Format("Identify data error!!! Word %d to Word %d:%s", static_cast<int>(w1),
                                   static_cast<int>(w2), actual.c_str()) +
                            Format("; expected:%s", expectedCut.c_str());
      DvtFailLine(message);
      Report(message);
      ++errors;
    }
    return true;
  }

  if (w1 == 100 && w2 == 103) {
    // World wide name: the words from 103 down to 100, as one number.
    std::string actual = Format("%04X%04X%04X%04X", Word(103), Word(102), Word(101), Word(100));
    std::string value = expected;
    size_t prefix = value.find("0x");
    if (prefix == std::string::npos) prefix = value.find("0X");
    if (prefix != std::string::npos) value.erase(prefix, 2);
    if (actual != value) {
      Report(Format("Identify data error!!! Word %d to Word %d: 0x%s", 103, 100, actual.c_str()) +
             Format("; expected: 0x%s", value.c_str()));
      ++errors;
    }
    return true;
  }

  std::string actual;
  for (uint32_t w = w1; w <= w2; ++w) actual += Format("%04X", Word(w));
  if (actual != expected) {
    std::string message = Format("Identify data error!!! Word %d to Word %d: 0x", static_cast<int>(w1),
                                 static_cast<int>(w2)) +
                          actual + Format("; expected: 0x%s", expected.c_str());
    Report(TruncateUtf16(message, kRangeMessageChars));
    ++errors;
  }
  return true;
}

void DvtRun::CheckIdentifyBit(U16View line, int& errors, bool& endedAtOnce) {
  const std::string whole = U8(line);
  auto formatError = [&](int n) {
    Report(Format("%d. Identify format error:%s", n, whole.c_str()));
    ++errors;
    endedAtOnce = true;
  };
  auto tooLong = [](U16View t) { return t.size() > kIdentifyNumberChars; };

  size_t c1 = line.find(u',');
  U16View wText = line.substr(0, c1);
  UnsignedNumber w = ParseUnsigned(wText, 10);
  if (w.stray || tooLong(wText) || w.value > kLastIdentifyWord) return formatError(5);
  // A missing bit number or value is that field's error, never a silent 0.
  if (c1 == kNone) return formatError(6);
  size_t c2 = line.find(u',', c1 + 1);
  U16View bText = line.substr(c1 + 1, c2 == kNone ? kNone : c2 - c1 - 1);
  UnsignedNumber b = ParseUnsigned(bText, 10);
  if (b.stray || tooLong(bText) || b.value > kLastBit) return formatError(6);
  if (c2 == kNone) return formatError(7);
  U16View vText = line.substr(c2 + 1);
  UnsignedNumber v = ParseUnsigned(vText, 10);
  if (v.stray || tooLong(vText)) return formatError(7);

  uint16_t word = Word(w.value);
  unsigned bit = (word >> b.value) & 1u;
  if (bit != v.value) {
    Report(Format("Bit value not match. Word:%d, Bit:%d, real value:%d, expected value:%d\n"
                  "Identify word:0x%04X, Bit number:%d",
                  static_cast<int>(w.value), static_cast<int>(b.value), static_cast<int>(bit),
                  static_cast<int>(v.value), word, static_cast<int>(b.value)));
    ++errors;
  }
}

void DvtRun::WriteSummary() const {
  DvtSummaryLine(Format("Total: %d SMART attributes from config file.", static_cast<int>(counts_.smartLines)));
  DvtSummaryLine("Checked SMART attributes from config file.");
  DvtSummaryLine(Format("Total: %d Identify Table from config file.", static_cast<int>(counts_.identifyLines)));
  DvtSummaryLine("Checked Identify Table from config file.");
}

int RunOnCriteriaFile(uint32_t diskNumber, const PhysicalDriveTable& drives, const std::string& name,
                      DvtCounts* counts) {
  DvtCounts local;
  if (!counts) counts = &local;
  *counts = DvtCounts{};
  StartDvtResultFiles();
  LogTraceF("Zelvane DVT criteria file :%s", name.c_str());
  if (name.empty()) {
    LogTrace("DVT tool usage error!!!");
    counts->stopReason = "no criteria file ZelvaneDvt*.txt in the current directory";
    return kDvtCouldNotRun;
  }
  std::string content;
  if (!ReadCriteriaFile(name, &content, &counts->stopReason)) return kDvtCouldNotRun;

  auto found = std::find_if(drives.begin(), drives.end(), [&](const PhysicalDriveRecord& r) {
    return static_cast<uint32_t>(r.PhysicalDriveIndex) == diskNumber;
  });
  if (found == drives.end()) {
    LogTraceF("Physical drive %u not found!!!", diskNumber);
    LogTrace("\n\nZelvane DVT Complete!!!\n");
    counts->stopReason = drives.empty() ? "no usable drive on this machine"
                                        : Format("disk %u is not among the usable drives", diskNumber);
    return kDvtCouldNotRun;
  }

  DvtRun run(*found, ReportTag(found->SerialNumber));
  run.WriteReport(name, diskNumber);
  for (const DvtCriteriaLine& line : ParseDvtCriteria(content)) {
    std::u16string text = Utf8ToUtf16(line.text);
    if (line.smart) run.CheckSmartLine(text);
    if (line.identify && !run.CheckIdentifyLine(text)) {
      *counts = run.Counts();
      counts->stopReason = "the work memory of an IDENTIFY comparison could not be had";
      return kDvtCouldNotRun;
    }
  }
  run.WriteSummary();
  bool passed = run.Passed();
  if (passed) DvtPassLine("");
  LogTrace("\n\nZelvane DVT Complete!!!\n");
  *counts = run.Counts();
  // A result file that could not be written whole is no result: the run
  // did not do its work, whatever the checks found.
  for (const DvtResultFile& f : DvtResultFilesOfRun()) {
    if (f.complete) continue;
    counts->stopReason = "the result file " + f.path + " could not be written completely";
    return kDvtCouldNotRun;
  }
  return passed ? kDvtPassed : kDvtFailed;
}

}  // namespace

std::vector<DvtCriteriaLine> ParseDvtCriteria(std::string_view content) {
  content = content.substr(0, content.find('\0'));
  std::vector<DvtCriteriaLine> lines;
  bool smart = false, identify = false;
  size_t start = 0;
  for (;;) {
    size_t end = content.find("\r\n", start);
    if (end == std::string_view::npos) break;  // text after the last CR LF is not read
    std::string_view raw = content.substr(start, end - start);
    start = end + 2;
    size_t first = raw.find_first_not_of(' ');
    if (first == std::string_view::npos) continue;
    std::string text = FromLocaleMultibyte(raw.substr(first));
    if (text == "#SMART start") {
      smart = true;
    } else if (text == "#SMART end") {
      smart = false;
    } else if (text == "#Identify start") {
      identify = true;
    } else if (text == "#Identify end") {
      identify = false;
    } else if (text.find('#') == std::string::npos && (smart || identify)) {
      lines.push_back({std::move(text), smart, identify});
    }
  }
  return lines;
}

std::string FindDvtCriteriaFile(uint32_t* error) {
  // The first file the listing gives for the pattern, in the current
  // directory (not the program's folder).
  // Only a regular file (or a link to one) is a criteria file: a folder or
  // a FIFO of a matching name is passed over.
  uint32_t listError = 0;
  platform::Files& files = platform::Current().Files();
  std::vector<std::string> names = platform::ListMatching(files, "ZelvaneDvt*.txt", &listError);
  for (const std::string& name : names) {
    const uint32_t attributes = files.GetFileAttributesW(name);
    if (attributes == platform::INVALID_FILE_ATTRIBUTES ||
        (attributes & (platform::FILE_ATTRIBUTE_DIRECTORY | platform::FILE_ATTRIBUTE_DEVICE)))
      continue;
    if (error) *error = platform::ERROR_SUCCESS;
    return name;
  }
  if (error) *error = names.empty() ? listError : platform::ERROR_FILE_NOT_FOUND;
  return std::string();
}

bool EvaluateDvtFormula(std::string_view formula, uint64_t rawValue, uint64_t* result) {
  std::vector<char> operators;
  std::vector<float> numbers;
  if (!formula.empty()) {
    size_t pos = 0;
    for (;;) {
      if (formula[pos] == '*' || formula[pos] == '/') operators.push_back(formula[pos]);
      size_t numberStart = pos + 1;
      size_t used = 0;
      double number = ToDouble(std::string(formula.substr(std::min(numberStart, formula.size()))), &used);
      // Beyond the single-precision range the number is an infinity.
      if (std::fabs(number) > FLT_MAX && !std::isinf(number)) number = std::copysign(HUGE_VAL, number);
      numbers.push_back(static_cast<float>(number));
      size_t after = numberStart + used;
      if (after >= formula.size()) break;
      char next = formula[after];
      // Anything but an operator after a number stops the scan: malformed.
      if (next != '*' && next != '/') return false;
      pos = formula.find(next, pos + 1);
    }
  }
  if (operators.size() != numbers.size()) return false;

  uint64_t value = rawValue;
  for (size_t i = 0; i < operators.size(); ++i) {
    double v = static_cast<double>(value);
    double n = static_cast<double>(numbers[i]);
    value = TruncateParseUnsigned(operators[i] == '*' ? v * n : v / n);
  }
  *result = value / 1024;
  return true;
}

int RunDvtMode(uint32_t diskNumber, const PhysicalDriveTable& drives, DvtCounts* counts) {
  LogTrace("\n\nZelvane DVT Start!!!\n");
  uint32_t error = 0;
  std::string name = FindDvtCriteriaFile(&error);
  if (name.empty()) {
    std::fputs(Format("Invalid file handle. Error is %u.\n", error).c_str(), stdout);
    std::fflush(stdout);
  }
  DvtCounts local;
  if (!counts) counts = &local;
  const int status = RunOnCriteriaFile(diskNumber, drives, name, counts);
  // Result files that could not be written are told: the program has no
  // other way to say its run left no result.
  if (status == kDvtCouldNotRun && counts->stopReason.rfind("the result file ", 0) == 0) {
    std::fprintf(stderr, "SSDZelvane: %s\n", counts->stopReason.c_str());
    std::fflush(stderr);
  }
  return status;
}

int RunDvtModeWithCriteria(uint32_t diskNumber, const PhysicalDriveTable& drives,
                           const std::string& criteriaPath, DvtCounts* counts) {
  LogTrace("\n\nZelvane DVT Start!!!\n");
  return RunOnCriteriaFile(diskNumber, drives, criteriaPath, counts);
}

}  // namespace zel
