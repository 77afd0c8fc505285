#pragma once

#include <memory>
#include <string>

#include "builder_package/PackageReadOptions.h"
#include "builder_package/ReadFailure.h"
#include "system/ByteRun.h"

class CSysFile;
class RecordReader;

// One form of a package: a main SWF program (plain or protected), an
// optional mask, preview and settings program, and fields carried through
// reading and writing unchanged. Buffers handed out by the Unpack...ToRam
// operations belong to the caller (array delete).
class CPackageForm {
 public:
  static constexpr int kNewestVersion = 14;

  CPackageForm();
  virtual ~CPackageForm();
  CPackageForm(const CPackageForm&) = delete;
  CPackageForm& operator=(const CPackageForm&) = delete;

  // Read: the unsigned argument is not used. Drops the form's buffers
  // and their sizes first; each field then changes once its bytes arrived
  // (a byte run together with its size). On failure: false, the fields
  // read so far keep their new values, GetReadFailure() says why. No
  // negative size is taken and no run beyond the bytes left is allocated.
  bool Read(unsigned int version, CSysFile& file);
  bool Read(unsigned int version, CSysFile& file, const PackageReadOptions& options);
  // Writes form version 14. Requires the main program's buffer when its
  // length is not 0; false for a program left in its file.
  bool Write(unsigned int version, CSysFile& file);
  const ReadFailure& GetReadFailure() const { return m_readFailure; }

  // Main program. protect selects the protected codec; text must then be
  // non-empty. A failed pack leaves the form as it was; a plain pack drops
  // any key text, so the form reads back as what was just packed.
  // UnpackSWFToRam reports the payload length: for protected content the
  // decoded program is followed by zeros (or bytes decoded from filler) up
  // to it. UnpackSWF writes only the decoded bytes.
  bool PackSWF(const std::wstring& path, bool protect, const std::string& text);
  bool UnpackSWFToRam(unsigned char** out, int& size);
  bool UnpackSWF(const std::wstring& path);
  int GetSWFSize() const { return m_SWFLength; }
  int GetSWFVersion() const;
  void SetSWFVersion(int value);
  bool IsProtected() const { return m_pKeyText != nullptr; }

  bool PackMask(const std::wstring& path);
  bool UnpackMaskToRam(unsigned char** pp, int& size);
  int GetPackedMaskSize() const { return m_packedMaskSize; }
  // The mask as stored (compressed and scrambled), or null.
  const unsigned char* GetStoredMask() const { return m_pMask.get(); }
  int GetUnpackedMaskSize() const { return m_unpackedMaskSize; }

  bool PackSaverPreview(const std::wstring& path);
  bool PackSaverSettings(const std::wstring& path);
  bool UnpackSaverPreviewToRam(unsigned char** out, int& size);
  bool UnpackSaverSettingsToRam(unsigned char** out, int& size);
  int GetSaverPreviewSize() const { return m_saverPreviewSize; }
  int GetSaverSettingsSize() const { return m_saverSettingsSize; }
  // The programs as stored (scrambled), or null.
  const unsigned char* GetStoredSaverPreview() const { return m_pSaverPreview.get(); }
  const unsigned char* GetStoredSaverSettings() const { return m_pSaverSettings.get(); }

  void ReleaseSWF();
  void ReleaseMask();
  void ReleaseSaverPreview();
  void ReleaseSaverSettings();
  void Release();

  // The form version the record was read with (kNewestVersion for a new
  // form); values outside 1..14 are read by the nearest gate.
  int GetStoredVersion() const { return m_storedVersion; }

  // Read access for the inspector.
  const std::wstring& GetFormString1() const { return m_formString1; }
  const std::wstring& GetFormString2() const { return m_formString2; }
  const std::wstring& GetFormName() const { return m_formName; }
  bool GetFormFlag1() const { return m_formFlag1; }
  bool GetFormFlag2() const { return m_formFlag2; }
  bool GetFormFlag3() const { return m_formFlag3; }
  bool GetFormFlag4() const { return m_formFlag4; }
  bool GetFormFlag5() const { return m_formFlag5; }
  bool GetFormFlag6() const { return m_formFlag6; }
  bool GetFormFlag7() const { return m_formFlag7; }
  bool GetFormFlag8() const { return m_formFlag8; }
  bool GetFormFlag9() const { return m_formFlag9; }
  bool GetFormFlag10() const { return m_formFlag10; }
  bool GetFormFlag11() const { return m_formFlag11; }
  bool GetFormFlag12() const { return m_formFlag12; }
  bool GetFormFlag13() const { return m_formFlag13; }
  int GetFormInt1() const { return m_formInt1; }
  int GetFormInt2() const { return m_formInt2; }
  int GetFormInt3() const { return m_formInt3; }
  int GetFormInt4() const { return m_formInt4; }
  int GetFormInt5() const { return m_formInt5; }
  int GetFormInt6() const { return m_formInt6; }
  int GetFormInt7() const { return m_formInt7; }
  int GetFormInt8() const { return m_formInt8; }
  int GetFormInt9() const { return m_formInt9; }
  int GetFormInt10() const { return m_formInt10; }
  int GetFormInt11() const { return m_formInt11; }
  int GetFormInt12() const { return m_formInt12; }
  int GetFormInt13() const { return m_formInt13; }
  int GetFormInt14() const { return m_formInt14; }
  int GetFormInt15() const { return m_formInt15; }
  int GetFormInt16() const { return m_formInt16; }
  int GetFormInt17() const { return m_formInt17; }
  int GetFormInt18() const { return m_formInt18; }
  int GetFormInt19() const { return m_formInt19; }
  int GetFormInt20() const { return m_formInt20; }
  unsigned int GetFormUInt1() const { return m_formUInt1; }
  unsigned int GetFormUInt2() const { return m_formUInt2; }
  int GetKeyTextLength() const { return m_keyTextLength; }
  // The stored bytes as they are in the file (scrambled, or protected
  // blocks and scrambled key text); null when absent.
  const unsigned char* GetStoredSWF() const { return m_pSWF.get(); }
  // Where the stored main program starts in the file the form was read
  // from, when the read left it there (PackageReadOptions; GetStoredSWF is
  // then null); -1 otherwise.
  long long GetStoredSWFOffset() const { return m_SWFOffset; }
  const unsigned char* GetKeyText() const { return m_pKeyText.get(); }

  void SetFormName(const std::wstring& name) { m_formName = name; }

 private:
  bool PackProtected(const std::wstring& path, const std::string& text);
  bool ReadMainProgram(RecordReader& in, const PackageReadOptions& options);

  std::wstring m_formString1;
  bool m_formFlag1;
  int m_formInt1, m_formInt2, m_formInt3, m_formInt4, m_formInt5, m_formInt6, m_formInt7;
  bool m_formFlag2, m_formFlag3, m_formFlag4;
  int m_formInt8;
  bool m_formFlag5, m_formFlag6, m_formFlag7, m_formFlag8;
  int m_formInt9, m_formInt10, m_formInt11, m_formInt12, m_formInt13, m_formInt14;
  std::wstring m_formString2;
  bool m_formFlag9, m_formFlag10;
  ByteRun m_pSWF;
  int m_SWFLength;
  long long m_SWFOffset;
  ByteRun m_pMask;
  int m_packedMaskSize;
  int m_unpackedMaskSize;
  unsigned int m_formUInt1;
  bool m_formFlag11;
  int m_formInt15, m_formInt16, m_formInt17;
  std::wstring m_formName;
  int m_formInt18;
  ByteRun m_pSaverPreview;
  int m_saverPreviewSize;
  ByteRun m_pSaverSettings;
  int m_saverSettingsSize;
  bool m_formFlag12;
  unsigned int m_formUInt2;
  int m_formInt19, m_formInt20;
  ByteRun m_pKeyText;
  int m_keyTextLength;
  int m_SWFVersion;
  bool m_formFlag13;

  int m_storedVersion;
  ReadFailure m_readFailure;
};
