#pragma once

// A private temporary folder for one test, removed with everything in it.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

class TempDir {
 public:
  TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vello-test.XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) m_path = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return m_path; }
  std::string File(const std::string& name) const { return (m_path / name).string(); }
  std::wstring WideFile(const std::string& name) const { return (m_path / name).wstring(); }

  std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) const {
    const std::string file = File(name);
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return file;
  }

  // Writes the file and returns its path in the library's wide form.
  std::wstring Put(const std::string& name, const std::vector<unsigned char>& bytes) const {
    Write(name, bytes);
    return WideFile(name);
  }

  size_t EntryCount() const {
    return static_cast<size_t>(std::distance(std::filesystem::directory_iterator(m_path), {}));
  }

  static std::vector<unsigned char> ReadAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path m_path;
};
