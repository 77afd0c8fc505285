#include "builder_package/Package.h"

// Reads and writes the package record; its layout, field by field with
// each version gate, is in docs/format.md ("Package"), and the reader and
// the writer below follow it in order.

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>

#include "builder_package/PackageBinary.h"
#include "builder_package/PackageForm.h"
#include "builder_package/PackedResource.h"
#include "builder_package/RecordReader.h"
#include "builder_package/RecordText.h"
#include "builder_package/Scramble.h"
#include "encryption/EncryptedString.h"
#include "system/Assert.h"
#include "system/AtomicFile.h"
#include "system/SysFile.h"
#include "system/SysStringHelper.h"

namespace {

// Compression levels of the resources.
constexpr int kSplashLevel = 9;
constexpr int kTrayIconLevel = 9;
constexpr int kFlashLevel = 1;
constexpr int kXulLevel = 1;

// Only binaries say why their record failed.
const ReadFailure& ReasonOf(const CPackageBinary& record) { return record.GetReadFailure(); }
const ReadFailure& ReasonOf(const CEncryptedString&) {
  static const ReadFailure none;
  return none;
}

std::string EntryName(const char* section, int index) {
  return std::string(section) + " " + std::to_string(index + 1);
}

template <class Record>
bool ReadList(RecordReader& in, unsigned int version, const char* section,
              std::vector<Record*>& list) {
  in.SetRecord(section);
  int count = 0;
  if (!in.Count("count", count)) return false;
  for (int i = 0; i < count; ++i) {
    auto record = std::make_unique<Record>();
    if (!record->Read(version, in.File()))
      return in.FailWithin(EntryName(section, i), ReasonOf(*record));
    list.push_back(record.release());
  }
  return true;
}

template <class Record>
bool ReadMap(RecordReader& in, unsigned int version, const char* section,
             std::map<std::wstring, Record*, CodeUnitOrder>& map,
             std::vector<CPackage::DuplicateKey>& duplicates) {
  in.SetRecord(section);
  int count = 0;
  if (!in.Count("count", count)) return false;
  for (int i = 0; i < count; ++i) {
    in.SetRecord(EntryName(section, i));
    std::wstring key;
    if (!in.Text("key", key)) return false;
    auto record = std::make_unique<Record>();
    if (!record->Read(version, in.File()))
      return in.FailWithin(EntryName(section, i), ReasonOf(*record));
    Record*& slot = map[key];
    if (slot != nullptr) duplicates.push_back({section, key});
    delete slot;  // a key read twice keeps the later record
    slot = record.release();
  }
  return true;
}

// Sizes first, then the packed bytes; the members change together once
// every byte arrived.
bool ReadResource(RecordReader& in, const char* section, const char* packedField,
                  const char* unpackedField, ByteRun& bytes,
                  int& packed, int& unpacked) {
  in.SetRecord(section);
  int packedSize = 0;
  int unpackedSize = 0;
  ByteRun run;
  if (!(in.Size(packedField, packedSize) && in.Size(unpackedField, unpackedSize))) return false;
  if (packedSize > 0 && !in.Run(packedField, packedSize, run)) return false;
  bytes = std::move(run);
  packed = packedSize;
  unpacked = unpackedSize;
  return true;
}

template <class Record>
bool WriteRecords(CSysFile& file, unsigned int version, const std::vector<Record*>& list) {
  if (!file.WriteInt(static_cast<int>(list.size()))) return false;
  for (Record* record : list)
    if (!record->Write(version, file)) return false;
  return true;
}

template <class Record>
bool WriteRecords(CSysFile& file, unsigned int version,
                  const std::map<std::wstring, Record*, CodeUnitOrder>& map) {
  if (!file.WriteInt(static_cast<int>(map.size()))) return false;
  for (const auto& [key, record] : map)
    if (!(WriteRecordText(file, key) && record->Write(version, file))) return false;
  return true;
}

// A resource whose sizes promise bytes it no longer holds (after a failed
// pack or a release) fails: writing the sizes without the run would make
// readers take the following fields for its bytes.
bool WriteResource(CSysFile& file, const ByteRun& bytes, int packed, int unpacked) {
  if (packed > 0 && bytes == nullptr) return false;
  return file.WriteInt(packed) && file.WriteInt(unpacked) &&
         (packed <= 0 || file.Write(bytes.get(), packed) == packed);
}

bool PackResource(const std::wstring& path, int level, int k, bool clearSizes,
                  ByteRun& bytes, int& packed, int& unpacked) {
  bytes.reset();
  if (clearSizes) packed = unpacked = 0;
  ByteRun stored;
  int storedSize = 0;
  if (!PackedResource::Pack(path, level, k, stored, storedSize, unpacked)) return false;
  bytes = std::move(stored);
  packed = storedSize;
  return true;
}

template <class Map>
typename Map::mapped_type Find(const Map& map, const std::wstring& name) {
  const auto found = map.find(name);
  return found == map.end() ? nullptr : found->second;
}

void Store(CPackage::StringMap& map, const std::wstring& name, const std::wstring& value) {
  auto record = std::make_unique<CEncryptedString>(value);
  CEncryptedString*& slot = map[name];
  delete slot;
  slot = record.release();
}

}  // namespace

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
      m_optionInt1(0), m_optionInt2(0), m_optionInt3(0), m_optionInt4(0),
      m_optionFlag1(false),
      m_optionFlag2(false),
      m_optionInt5(0),
      m_packedSplashSize(0), m_unpackedSplashSize(0),
      m_packedTrayIconSize(0), m_unpackedTrayIconSize(0),
      m_optionFlag3(false),
      m_packedFlashSize(0), m_unpackedFlashSize(0),
      m_packedXulSize(0), m_unpackedXulSize(0),
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
  for (CPackageBinary* binary : m_dllBinaries) delete binary;
  m_dllBinaries.clear();
  for (auto& entry : m_secureVars) delete entry.second;
  m_secureVars.clear();
  for (auto& entry : m_files) delete entry.second;
  m_files.clear();
  for (CEncryptedString* text : m_encryptedStrings) delete text;
  m_encryptedStrings.clear();
  for (auto& entry : m_globalVars) delete entry.second;
  m_globalVars.clear();
  ReleaseSplash();
  ReleaseTrayIcon();
  ReleaseFlash();
  ReleaseXul();
}

bool CPackage::Load(unsigned int version, const std::wstring& path) {
  m_readFailure.Clear();
  CSysFile file;
  if (!file.Open(path, L"rb")) {
    m_readFailure.problem = "the file does not open";
    return false;
  }
  return Read(version, file);
}

bool CPackage::Save(unsigned int version, const std::wstring& path) {
  m_saveFailure.Clear();
  // A name that does not convert whole would name some other file, which
  // the rename below would replace.
  std::string target;
  if (path.find(L'\0') != std::wstring::npos ||
      !CSysStringHelper::GetSingleton().NativeToUTF8(path, target)) {
    m_saveFailure.problem = "is no file name: it holds U+0000 or a character UTF-8 cannot hold";
    return false;
  }
  return Save(version, target, PackageSaveOptions{});
}

bool CPackage::Save(unsigned int version, const std::string& path, const PackageSaveOptions& options) {
  m_saveFailure.Clear();
  const auto fail = [this](std::string why) {
    m_saveFailure.problem = std::move(why);
    return false;
  };
  // Written beside the target and renamed over it only when complete, so a
  // failed save leaves the old package as it was.
  AtomicFile atomic(path);
  atomic.SetMayReplace(options.mayReplace);
  if (!atomic.Begin()) {
    // Named as such: "cannot make a temporary file beside it" would not
    // say why.
    const std::string folder = std::filesystem::path(path).parent_path().string();
    struct stat st;
    if (!folder.empty() && stat(folder.c_str(), &st) != 0 && errno == ENOENT)
      return fail("the folder " + folder + " does not exist");
    return fail(atomic.Failure());
  }
  CSysFile file(atomic.Handle());
  errno = 0;
  if (!Write(version, file))
    return fail("cannot write: " +
                std::string(errno != 0 ? std::strerror(errno) : "the package could not be written whole"));
  if (options.checkWritten) {
    if (std::fflush(atomic.Handle()) != 0) return fail("cannot write: " + std::string(std::strerror(errno)));
    std::rewind(atomic.Handle());
    options.checkWritten(atomic.Handle());
  }
  if (!atomic.Commit()) return fail(atomic.Failure());
  return true;
}

bool CPackage::Read(unsigned int version, CSysFile& file) { return Read(version, file, PackageReadOptions{}); }

bool CPackage::Read(unsigned int version, CSysFile& file, const PackageReadOptions& options) {
  m_readFailure.Clear();
  m_duplicateKeys.clear();
  RecordReader in(file, m_readFailure, "package");
  int packageVersion = 0;
  if (!in.Int("packageVersion", packageVersion)) return false;
  m_storedVersion = packageVersion;

  in.SetRecord("header");
  if (!(in.Int("m_headerInt1", m_headerInt1) && in.Text("m_headerString1", m_headerString1) &&
        in.Text("m_headerString2", m_headerString2) && in.Bool("m_headerFlag1", m_headerFlag1) &&
        in.Bool("m_headerFlag2", m_headerFlag2) && in.Bool("m_headerFlag3", m_headerFlag3) &&
        in.Text("m_headerString3", m_headerString3) && in.Int("m_headerInt2", m_headerInt2) &&
        in.Int("m_headerInt3", m_headerInt3) && in.Int("m_headerInt4", m_headerInt4)))
    return false;

  in.SetRecord("forms");
  int count = 0;
  if (!in.Count("count", count)) return false;
  for (int i = 0; i < count; ++i) {
    auto form = std::make_unique<CPackageForm>();
    if (!form->Read(version, file, options)) return in.FailWithin(EntryName("form", i), form->GetReadFailure());
    m_forms.push_back(form.release());
  }
  return ReadSections(packageVersion, version, in);
}

bool CPackage::ReadSections(int v, unsigned int version, RecordReader& in) {
  if (v >= 2 && !ReadList(in, version, "DLL binary", m_dllBinaries)) return false;
  if (v >= 3 && !ReadMap(in, version, "secure variable", m_secureVars, m_duplicateKeys)) return false;
  if (v >= 4 && !ReadMap(in, version, "file", m_files, m_duplicateKeys)) return false;
  if (v >= 5) {
    if (!ReadList(in, version, "encrypted string", m_encryptedStrings)) return false;
    in.SetRecord("options");
    if (!(in.Int("m_optionInt1", m_optionInt1) && in.Int("m_optionInt2", m_optionInt2) &&
          in.Int("m_optionInt3", m_optionInt3) && in.Int("m_optionInt4", m_optionInt4) &&
          in.Bool("m_optionFlag1", m_optionFlag1) && in.Text("m_optionString1", m_optionString1) &&
          in.Bool("m_optionFlag2", m_optionFlag2) && in.Int("m_optionInt5", m_optionInt5)))
      return false;
  }
  if (v >= 6 && !ReadResource(in, "splash", "m_packedSplashSize", "m_unpackedSplashSize",
                              m_pSplash, m_packedSplashSize, m_unpackedSplashSize))
    return false;
  in.SetRecord("options");
  if (v >= 7 && !in.Text("m_optionString2", m_optionString2)) return false;
  if (v >= 8 && !ReadResource(in, "tray icon", "m_packedTrayIconSize", "m_unpackedTrayIconSize",
                              m_pTrayIcon, m_packedTrayIconSize,
                              m_unpackedTrayIconSize))
    return false;
  if (v >= 9 && !ReadMap(in, version, "global variable", m_globalVars, m_duplicateKeys)) return false;
  in.SetRecord("options");
  if (v >= 10 &&
      !(in.Text("m_optionString3", m_optionString3) && in.Text("m_optionString4", m_optionString4) &&
        in.Text("m_optionString5", m_optionString5) && in.Text("m_optionString6", m_optionString6) &&
        in.Text("m_optionString7", m_optionString7) && in.Text("m_optionString8", m_optionString8) &&
        in.Text("m_optionString9", m_optionString9)))
    return false;
  if (v >= 11 && !in.Bool("m_optionFlag3", m_optionFlag3)) return false;
  if (v >= 12 && !ReadResource(in, "flash", "m_packedFlashSize", "m_unpackedFlashSize",
                               m_pFlash, m_packedFlashSize, m_unpackedFlashSize))
    return false;
  if (v >= 14 && !ReadResource(in, "xul", "m_packedXulSize", "m_unpackedXulSize", m_pXul,
                               m_packedXulSize, m_unpackedXulSize))
    return false;
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

bool CPackage::WriteSections(unsigned int version, CSysFile& file) {
  return WriteRecords(file, version, m_dllBinaries) &&
         WriteRecords(file, version, m_secureVars) &&
         WriteRecords(file, version, m_files) &&
         WriteRecords(file, version, m_encryptedStrings) &&
         file.WriteInt(m_optionInt1) && file.WriteInt(m_optionInt2) &&
         file.WriteInt(m_optionInt3) && file.WriteInt(m_optionInt4) &&
         file.WriteBool(m_optionFlag1) && WriteRecordText(file, m_optionString1) &&
         file.WriteBool(m_optionFlag2) && file.WriteInt(m_optionInt5) &&
         WriteResource(file, m_pSplash, m_packedSplashSize, m_unpackedSplashSize) &&
         WriteRecordText(file, m_optionString2) &&
         WriteResource(file, m_pTrayIcon, m_packedTrayIconSize, m_unpackedTrayIconSize) &&
         WriteRecords(file, version, m_globalVars) &&
         WriteRecordText(file, m_optionString3) && WriteRecordText(file, m_optionString4) &&
         WriteRecordText(file, m_optionString5) && WriteRecordText(file, m_optionString6) &&
         WriteRecordText(file, m_optionString7) && WriteRecordText(file, m_optionString8) &&
         WriteRecordText(file, m_optionString9) &&
         file.WriteBool(m_optionFlag3) &&
         WriteResource(file, m_pFlash, m_packedFlashSize, m_unpackedFlashSize) &&
         WriteResource(file, m_pXul, m_packedXulSize, m_unpackedXulSize);
}

const std::wstring& CPackage::GetOptionString(int n) const {
  static const std::wstring none;
  const std::wstring* strings[] = {&m_optionString1, &m_optionString2, &m_optionString3,
                                   &m_optionString4, &m_optionString5, &m_optionString6,
                                   &m_optionString7, &m_optionString8, &m_optionString9};
  return n >= 1 && n <= 9 ? *strings[n - 1] : none;
}

bool CPackage::PackWin32Dll(const unsigned char* data, int size) {
  auto binary = std::make_unique<CPackageBinary>();
  if (!binary->PackDataAndEncrypt(data, size)) return false;
  m_dllBinaries.push_back(binary.release());
  return true;
}

void CPackage::AddSecureVar(const std::wstring& name, const std::wstring& value) {
  Store(m_secureVars, name, value);
}

CEncryptedString* CPackage::FindSecureVar(const std::wstring& name) const {
  return Find(m_secureVars, name);
}

bool CPackage::PackFile(const std::wstring& name, const std::wstring& path) {
  ByteRun bytes;
  int length = 0;
  if (!CSysFile::ReadRunFromDisk(path, bytes, length)) return false;
  auto binary = std::make_unique<CPackageBinary>();
  if (!binary->PackDataAndEncrypt(bytes.get(), length)) return false;
  CPackageBinary*& slot = m_files[name];
  delete slot;
  slot = binary.release();
  return true;
}

CPackageBinary* CPackage::FindFile(const std::wstring& name) const { return Find(m_files, name); }

void CPackage::AddGlobalVar(const std::wstring& name, const std::wstring& value) {
  Store(m_globalVars, name, value);
}

bool CPackage::PackSplash(const std::wstring& path) {
  return PackResource(path, kSplashLevel, Scramble::kSplash, false, m_pSplash,
                      m_packedSplashSize, m_unpackedSplashSize);
}

bool CPackage::PackTrayIcon(const std::wstring& path) {
  return PackResource(path, kTrayIconLevel, Scramble::kTrayIcon, false, m_pTrayIcon,
                      m_packedTrayIconSize, m_unpackedTrayIconSize);
}

bool CPackage::PackFlash(const std::wstring& path) {
  return PackResource(path, kFlashLevel, Scramble::kFlash, true, m_pFlash, m_packedFlashSize,
                      m_unpackedFlashSize);
}

bool CPackage::PackXul(const std::wstring& path) {
  return PackResource(path, kXulLevel, Scramble::kXul, true, m_pXul, m_packedXulSize,
                      m_unpackedXulSize);
}

bool CPackage::UnpackSplashToRam(unsigned char** pp, int& size) {
  VELLO_ASSERT(m_pSplash != NULL);
  VELLO_ASSERT(pp != NULL);
  return PackedResource::Unpack(m_pSplash.get(), m_packedSplashSize, m_unpackedSplashSize,
                                Scramble::kSplash, pp, size);
}

bool CPackage::UnpackTrayIconToRam(unsigned char** pp, int& size) {
  VELLO_ASSERT(pp != NULL);
  return PackedResource::Unpack(m_pTrayIcon.get(), m_packedTrayIconSize, m_unpackedTrayIconSize,
                                Scramble::kTrayIcon, pp, size);
}

bool CPackage::UnpackFlash(unsigned char** pp, int& size) {
  VELLO_ASSERT(pp != NULL);
  return PackedResource::Unpack(m_pFlash.get(), m_packedFlashSize, m_unpackedFlashSize,
                                Scramble::kFlash, pp, size);
}

bool CPackage::UnpackXul(unsigned char** pp, int& size) {
  VELLO_ASSERT(pp != NULL);
  return PackedResource::Unpack(m_pXul.get(), m_packedXulSize, m_unpackedXulSize, Scramble::kXul, pp,
                                size);
}

void CPackage::ReleaseSplash() { m_pSplash.reset(); }
void CPackage::ReleaseTrayIcon() { m_pTrayIcon.reset(); }

void CPackage::ReleaseFlash() {
  m_pFlash.reset();
  m_packedFlashSize = m_unpackedFlashSize = 0;
}

void CPackage::ReleaseXul() {
  m_pXul.reset();
  m_packedXulSize = m_unpackedXulSize = 0;
}
