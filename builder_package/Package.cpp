#include "builder_package/Package.h"

#include <algorithm>
#include <cstdint>
#include <memory>

#include "builder_package/PackageForm.h"
#include "builder_package/RecordText.h"
#include "system/Assert.h"
#include "system/AtomicFile.h"
#include "system/SysFile.h"
#include "system/SysStringHelper.h"

bool CodeUnitOrder::operator()(const std::wstring& a, const std::wstring& b) const {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](wchar_t x, wchar_t y) {
                                        return static_cast<uint32_t>(x) < static_cast<uint32_t>(y);
                                      });
}

CPackage::CPackage()
    : m_headerInt1(0),
      m_headerFlag1(false),
      m_headerFlag2(false),
      m_headerFlag3(false),
      m_headerInt2(0),
      m_headerInt3(0),
      m_headerInt4(0),
      m_storedVersion(kNewestVersion) {}

CPackage::~CPackage() { Close(); }

void CPackage::AddForm(CPackageForm* pForm) {
  VELLO_ASSERT(pForm != NULL);
  m_forms.push_back(pForm);
}

CPackageForm* CPackage::GetForm(int index) const {
  if (index < 0 || index >= GetFormCount()) return nullptr;
  return m_forms[static_cast<size_t>(index)];
}

void CPackage::Close() {
  for (CPackageForm* form : m_forms) delete form;
  m_forms.clear();
}

bool CPackage::Load(unsigned int version, const std::wstring& path) {
  CSysFile file;
  if (!file.Open(path, L"rb")) return false;
  return Read(version, file);
}

bool CPackage::Save(unsigned int version, const std::wstring& path) {
  // Written beside the target and renamed over it only when complete, so a
  // failed save leaves the old package as it was.
  AtomicFile target(CSysStringHelper::GetSingleton().ToUTF8(path));
  if (!target.Begin()) return false;
  CSysFile file(target.Handle());
  if (!Write(version, file)) return false;
  return target.Commit();
}

bool CPackage::Read(unsigned int version, CSysFile& file) {
  int packageVersion = 0;
  if (!file.ReadInt(packageVersion)) return false;
  m_storedVersion = packageVersion;

  if (!(file.ReadInt(m_headerInt1) && ReadRecordText(file, m_headerString1) &&
        ReadRecordText(file, m_headerString2) && file.ReadBool(m_headerFlag1) &&
        file.ReadBool(m_headerFlag2) && file.ReadBool(m_headerFlag3) &&
        ReadRecordText(file, m_headerString3) && file.ReadInt(m_headerInt2) &&
        file.ReadInt(m_headerInt3) && file.ReadInt(m_headerInt4)))
    return false;

  int count = 0;
  if (!file.ReadInt(count)) return false;
  for (int i = 0; i < count; ++i) {
    auto form = std::make_unique<CPackageForm>();
    if (!form->Read(version, file)) return false;
    m_forms.push_back(form.release());
  }
  // The resource sections after the forms are not read by this build.
  return true;
}

bool CPackage::Write(unsigned int version, CSysFile& file) {
  if (!(file.WriteInt(kNewestVersion) && file.WriteInt(m_headerInt1) &&
        WriteRecordText(file, m_headerString1) && WriteRecordText(file, m_headerString2) &&
        file.WriteBool(m_headerFlag1) && file.WriteBool(m_headerFlag2) &&
        file.WriteBool(m_headerFlag3) && WriteRecordText(file, m_headerString3) &&
        file.WriteInt(m_headerInt2) && file.WriteInt(m_headerInt3) &&
        file.WriteInt(m_headerInt4) && file.WriteInt(GetFormCount())))
    return false;
  for (CPackageForm* form : m_forms)
    if (!form->Write(version, file)) return false;
  return WriteSections(version, file);
}

bool CPackage::WriteSections(unsigned int /*version*/, CSysFile& file) {
  // Every section of the newest version, empty, so that the file is a
  // complete version-14 package.
  const std::wstring empty;
  const int zero = 0;
  const bool no = false;
  return file.WriteInt(zero) &&                                   // DLL binaries
         file.WriteInt(zero) &&                                   // secure variables
         file.WriteInt(zero) &&                                   // files
         file.WriteInt(zero) &&                                   // encrypted strings
         file.WriteInt(zero) && file.WriteInt(zero) && file.WriteInt(zero) &&
         file.WriteInt(zero) && file.WriteBool(no) && WriteRecordText(file, empty) &&
         file.WriteBool(no) && file.WriteInt(zero) &&             // option values
         file.WriteInt(zero) && file.WriteInt(zero) &&            // splash
         WriteRecordText(file, empty) &&                         // one string
         file.WriteInt(zero) && file.WriteInt(zero) &&            // tray icon
         file.WriteInt(zero) &&                                   // global variables
         WriteRecordText(file, empty) && WriteRecordText(file, empty) &&
         WriteRecordText(file, empty) && WriteRecordText(file, empty) &&
         WriteRecordText(file, empty) && WriteRecordText(file, empty) &&
         WriteRecordText(file, empty) &&                         // seven strings
         file.WriteBool(no) &&                                    // one flag
         file.WriteInt(zero) && file.WriteInt(zero) &&            // flash
         file.WriteInt(zero) && file.WriteInt(zero);              // xul
}
