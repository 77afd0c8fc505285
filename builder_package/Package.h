#pragma once

#include <string>
#include <vector>

class CSysFile;
class CPackageForm;

// A package file in memory: a header, a list of forms and the resource
// sections. Owns its forms. Load adds to what the package holds; Save
// replaces the target file atomically.
class CPackage {
 public:
  static constexpr int kNewestVersion = 14;

  CPackage();
  ~CPackage();
  CPackage(const CPackage&) = delete;
  CPackage& operator=(const CPackage&) = delete;

  bool Load(unsigned int version, const std::wstring& path);
  bool Save(unsigned int version, const std::wstring& path);
  bool Read(unsigned int version, CSysFile& file);
  bool Write(unsigned int version, CSysFile& file);

  void AddForm(CPackageForm* pForm);
  void Close();

  int GetFormCount() const { return static_cast<int>(m_forms.size()); }
  CPackageForm* GetForm(int index) const;  // null when out of range

  // The package version of the last record read (kNewestVersion for a new
  // package); values outside 1..14 are read by the nearest gate.
  int GetStoredVersion() const { return m_storedVersion; }

  int GetHeaderInt1() const { return m_headerInt1; }
  const std::wstring& GetHeaderString1() const { return m_headerString1; }
  const std::wstring& GetHeaderString2() const { return m_headerString2; }
  bool GetHeaderFlag1() const { return m_headerFlag1; }
  bool GetHeaderFlag2() const { return m_headerFlag2; }
  bool GetHeaderFlag3() const { return m_headerFlag3; }
  const std::wstring& GetHeaderString3() const { return m_headerString3; }
  int GetHeaderInt2() const { return m_headerInt2; }
  int GetHeaderInt3() const { return m_headerInt3; }
  int GetHeaderInt4() const { return m_headerInt4; }

 private:
  bool WriteSections(unsigned int version, CSysFile& file);

  std::vector<CPackageForm*> m_forms;
  int m_headerInt1;
  std::wstring m_headerString1;
  std::wstring m_headerString2;
  bool m_headerFlag1;
  bool m_headerFlag2;
  bool m_headerFlag3;
  std::wstring m_headerString3;
  int m_headerInt2;
  int m_headerInt3;
  int m_headerInt4;

  int m_storedVersion;
};
