#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "builder_package/PackageReadOptions.h"
#include "builder_package/PackageSaveOptions.h"
#include "builder_package/ReadFailure.h"
#include "builder_package/SaveFailure.h"
#include "system/ByteRun.h"

class CSysFile;
class CPackageForm;
class CPackageBinary;
class CEncryptedString;
class RecordReader;

// Keys of the package's maps are ordered code unit by code unit, as
// unsigned 32-bit values, so that every writer stores entries alike.
struct CodeUnitOrder {
  bool operator()(const std::wstring& a, const std::wstring& b) const;
};

// A package file in memory: a header, a list of forms and the resource
// sections. Owns its forms and every record of its lists and maps. Load
// adds to what the package holds; Save replaces the target file
// atomically. Every out pointer of an Unpack operation receives a new
// array that the caller releases with array delete.
class CPackage {
 public:
  static constexpr int kNewestVersion = 14;

  using BinaryList = std::vector<CPackageBinary*>;
  using StringList = std::vector<CEncryptedString*>;
  using BinaryMap = std::map<std::wstring, CPackageBinary*, CodeUnitOrder>;
  using StringMap = std::map<std::wstring, CEncryptedString*, CodeUnitOrder>;

  CPackage();
  ~CPackage();
  CPackage(const CPackage&) = delete;
  CPackage& operator=(const CPackage&) = delete;

  // Load: false when the path does not open or Read fails. Save: false,
  // touching nothing, when the path does not convert whole to a file name
  // (an unconvertible character or U+0000); false with the old file kept
  // when writing fails; GetSaveFailure() then says why. The unsigned
  // argument is handed to every record and used by none.
  bool Load(unsigned int version, const std::wstring& path);
  bool Save(unsigned int version, const std::wstring& path);
  // Save to the path as the file system's own bytes (a name that need not
  // be UTF-8), as the options ask.
  bool Save(unsigned int version, const std::string& path, const PackageSaveOptions& options);
  // Reads every section the stored version has. On failure: false, the
  // reason in GetReadFailure(), records read before stay, the failed one
  // is deleted. No count, size or byte run beyond the bytes left in the
  // file is allocated for.
  bool Read(unsigned int version, CSysFile& file);
  bool Read(unsigned int version, CSysFile& file, const PackageReadOptions& options);
  // Writes version 14 with every section. False at the first failure, and
  // also when a resource's sizes promise bytes it no longer holds (after
  // a failed PackSplash/PackTrayIcon or ReleaseSplash/ReleaseTrayIcon):
  // the file then holds what was written so far.
  bool Write(unsigned int version, CSysFile& file);

  // The reason of the last failed Read or Load; cleared when one starts.
  const ReadFailure& GetReadFailure() const { return m_readFailure; }
  // The reason of the last failed Save; cleared when one starts.
  const SaveFailure& GetSaveFailure() const { return m_saveFailure; }

  // A key that the last Read found more than once in a map: the map keeps
  // the later record, so writing the package again drops the earlier one.
  struct DuplicateKey {
    std::string section;  // "secure variable", "file" or "global variable"
    std::wstring key;
  };
  const std::vector<DuplicateKey>& GetDuplicateKeys() const { return m_duplicateKeys; }

  void AddForm(CPackageForm* pForm);  // requires pForm; the package owns it
  // Deletes the forms and every section record; frees the resources (the
  // splash and tray-icon sizes keep their values, flash and xul sizes
  // become 0). Header and option values keep theirs.
  void Close();

  int GetFormCount() const { return static_cast<int>(m_forms.size()); }
  CPackageForm* GetForm(int index) const;  // null when out of range

  // The package version of the last record read (kNewestVersion for a new
  // package); values outside 1..14 are read by the nearest gate.
  int GetStoredVersion() const { return m_storedVersion; }

  // Sections. PackWin32Dll requires data and appends a scrambled copy of
  // its size bytes; false for a negative size. AddSecureVar and
  // AddGlobalVar store the value enciphered, replacing an entry of that
  // name. PackFile stores the file's bytes under the name; false, with the
  // files unchanged, when the file cannot be read. Find... return null
  // for a name not stored.
  bool PackWin32Dll(const unsigned char* data, int size);
  void AddSecureVar(const std::wstring& name, const std::wstring& value);
  CEncryptedString* FindSecureVar(const std::wstring& name) const;
  bool PackFile(const std::wstring& name, const std::wstring& path);
  CPackageBinary* FindFile(const std::wstring& name) const;
  void AddGlobalVar(const std::wstring& name, const std::wstring& value);

  // Compressed resources: the file's bytes compressed with zlib and
  // scrambled. Pack: false when the file cannot be read or does not
  // shrink; the resource then holds no bytes. PackFlash and PackXul clear
  // both sizes first; PackSplash and PackTrayIcon keep the packed size.
  // All take the new unpacked size once the file was read. A splash or
  // tray icon released, or failed to pack over an earlier one, keeps a
  // packed size without bytes: Write fails until it is packed again.
  bool PackSplash(const std::wstring& path);
  bool PackTrayIcon(const std::wstring& path);
  bool PackFlash(const std::wstring& path);
  bool PackXul(const std::wstring& path);
  // Unpack: true with a new array of the unpacked size; false, outputs
  // untouched, when there are no bytes (splash: a programming error), when
  // the recorded unpacked size is beyond what zlib can produce from the
  // packed bytes, or when they do not inflate to exactly that size.
  bool UnpackSplashToRam(unsigned char** pp, int& size);
  bool UnpackTrayIconToRam(unsigned char** pp, int& size);
  bool UnpackFlash(unsigned char** pp, int& size);
  bool UnpackXul(unsigned char** pp, int& size);
  int GetPackedSplashSize() const { return m_packedSplashSize; }
  int GetUnpackedSplashSize() const { return m_unpackedSplashSize; }
  int GetPackedTrayIconSize() const { return m_packedTrayIconSize; }
  int GetUnpackedTrayIconSize() const { return m_unpackedTrayIconSize; }
  int GetPackedFlashSize() const { return m_packedFlashSize; }
  int GetUnpackedFlashSize() const { return m_unpackedFlashSize; }
  int GetPackedXulSize() const { return m_packedXulSize; }
  int GetUnpackedXulSize() const { return m_unpackedXulSize; }
  // Splash and tray icon keep their sizes; flash and xul clear them.
  void ReleaseSplash();
  void ReleaseTrayIcon();
  void ReleaseFlash();
  void ReleaseXul();

  // Read access for the inspector. The records stay owned by the package.
  const BinaryList& GetDllBinaries() const { return m_dllBinaries; }
  const StringMap& GetSecureVars() const { return m_secureVars; }
  const BinaryMap& GetFiles() const { return m_files; }
  const StringList& GetEncryptedStrings() const { return m_encryptedStrings; }
  const StringMap& GetGlobalVars() const { return m_globalVars; }
  // The stored (scrambled, compressed) bytes of a resource; null when absent.
  const unsigned char* GetPackedSplash() const { return m_pSplash.get(); }
  const unsigned char* GetPackedTrayIcon() const { return m_pTrayIcon.get(); }
  const unsigned char* GetPackedFlash() const { return m_pFlash.get(); }
  const unsigned char* GetPackedXul() const { return m_pXul.get(); }

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

  // Option values and strings, carried unchanged.
  int GetOptionInt1() const { return m_optionInt1; }
  int GetOptionInt2() const { return m_optionInt2; }
  int GetOptionInt3() const { return m_optionInt3; }
  int GetOptionInt4() const { return m_optionInt4; }
  int GetOptionInt5() const { return m_optionInt5; }
  bool GetOptionFlag1() const { return m_optionFlag1; }
  bool GetOptionFlag2() const { return m_optionFlag2; }
  bool GetOptionFlag3() const { return m_optionFlag3; }
  // n from 1 to 9; the empty string for any other n.
  const std::wstring& GetOptionString(int n) const;

 private:
  bool ReadSections(int storedVersion, unsigned int version, RecordReader& in);
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

  BinaryList m_dllBinaries;
  StringMap m_secureVars;
  BinaryMap m_files;
  StringList m_encryptedStrings;
  int m_optionInt1, m_optionInt2, m_optionInt3, m_optionInt4;
  bool m_optionFlag1;
  std::wstring m_optionString1;
  bool m_optionFlag2;
  int m_optionInt5;
  ByteRun m_pSplash;
  int m_packedSplashSize, m_unpackedSplashSize;
  std::wstring m_optionString2;
  ByteRun m_pTrayIcon;
  int m_packedTrayIconSize, m_unpackedTrayIconSize;
  StringMap m_globalVars;
  std::wstring m_optionString3, m_optionString4, m_optionString5, m_optionString6,
      m_optionString7, m_optionString8, m_optionString9;
  bool m_optionFlag3;
  ByteRun m_pFlash;
  int m_packedFlashSize, m_unpackedFlashSize;
  ByteRun m_pXul;
  int m_packedXulSize, m_unpackedXulSize;

  int m_storedVersion;
  ReadFailure m_readFailure;
  SaveFailure m_saveFailure;
  std::vector<DuplicateKey> m_duplicateKeys;
};
