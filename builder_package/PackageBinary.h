#pragma once

#include "builder_package/ReadFailure.h"
#include "system/ByteRun.h"

class CSysFile;

// A scrambled byte record of a package (its DLL binaries and files).
// Record: int binaryVersion (1 written, ignored when read), int m_length,
// then m_length bytes when m_length > 0. The stored bytes are the data
// with the keyless scramble (constant 125) applied.
class CPackageBinary {
 public:
  CPackageBinary();
  virtual ~CPackageBinary();
  CPackageBinary(const CPackageBinary&) = delete;
  CPackageBinary& operator=(const CPackageBinary&) = delete;

  // The unsigned argument is not used. Write: false at the first failed
  // primitive. Read: on success the record holds the stored bytes; on
  // failure it is as it was and GetReadFailure() says why.
  bool Write(unsigned int version, CSysFile& file);
  bool Read(unsigned int version, CSysFile& file);
  const ReadFailure& GetReadFailure() const { return m_readFailure; }

  // Requires pData and an empty record; takes a scrambled copy of size
  // bytes. False, record empty, for a negative size.
  bool PackDataAndEncrypt(const unsigned char* pData, int size);
  // Requires ppData, held bytes and m_length > 0; hands out a new array of
  // the plain bytes and sets length.
  bool UnPackDataAndDecrypt(unsigned char** ppData, int& length);
  void Release();

  int GetLength() const { return m_length; }
  const unsigned char* GetData() const { return m_pData.get(); }  // the stored bytes

 private:
  ByteRun m_pData;
  int m_length;
  ReadFailure m_readFailure;
};
