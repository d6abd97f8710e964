// A fresh folder in the system's temporary folder, removed with everything in it when the
// object ends.

#ifndef WYGL_TESTS_SUPPORT_TEMP_DIR_H
#define WYGL_TESTS_SUPPORT_TEMP_DIR_H

#include <filesystem>
#include <string>

class temp_dir {
 public:
  temp_dir();
  ~temp_dir();
  temp_dir(temp_dir const&) = delete;
  temp_dir& operator=(temp_dir const&) = delete;

  std::filesystem::path const& path() const { return path_; }
  // The path of name inside the folder, as a narrow string.
  std::string file(std::string const& name) const;

 private:
  std::filesystem::path path_;
};

#endif  // WYGL_TESTS_SUPPORT_TEMP_DIR_H
