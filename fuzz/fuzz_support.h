// Shared set-up of the fuzz targets: a private temporary folder that holds
// the program path and is the current directory, so whatever a target makes
// the system write lands there and nowhere else.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace zel::fuzz {

// The folder, made once per process and entered; removed when the process
// ends normally.
class Folder {
 public:
  Folder() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "zelfuzz.XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    std::filesystem::current_path(tmpl);
    path_ = tmpl;
  }
  ~Folder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Creates the folder once per process and enters it; returns its path.
// libFuzzer must be given absolute corpus paths, as the current directory
// changes at the first input.
inline const std::string& WorkFolder() {
  static const Folder folder;
  return folder.Path();
}

// Writes `data` to `name` in the work folder and returns the full path.
inline std::string WriteInput(const std::string& name, const uint8_t* data, size_t size) {
  std::string path = WorkFolder() + "/" + name;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  std::fclose(f);
  return path;
}

}  // namespace zel::fuzz
