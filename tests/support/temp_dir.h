// A fresh folder in the system's temporary folder, removed with everything in it when the
// object ends; and whole-file reads and writes for the files tests make in it.

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

// Every byte of the file at path; empty when it cannot be read.
std::string file_contents(std::string const& path);
// Replaces the file at path with text, byte for byte.
void write_file(std::string const& path, std::string const& text);

#endif  // WYGL_TESTS_SUPPORT_TEMP_DIR_H
