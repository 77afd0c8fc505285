#include "builder_package/PackageBinary.h"

// The binary record; its layout is in docs/format.md ("Binary").

#include <cstring>
#include <memory>

#include "builder_package/RecordReader.h"
#include "builder_package/Scramble.h"
#include "system/Assert.h"
#include "system/SysFile.h"

CPackageBinary::CPackageBinary() : m_length(0) {}

CPackageBinary::~CPackageBinary() { Release(); }

void CPackageBinary::Release() {
  m_pData.reset();
  m_length = 0;
}

bool CPackageBinary::Write(unsigned int /*version*/, CSysFile& file) {
  if (!(file.WriteInt(1) && file.WriteInt(m_length))) return false;
  if (m_length <= 0) return true;
  return m_pData != nullptr && file.Write(m_pData.get(), m_length) == m_length;
}

bool CPackageBinary::Read(unsigned int /*version*/, CSysFile& file) {
  m_readFailure.Clear();
  RecordReader in(file, m_readFailure, "binary");
  int binaryVersion = 0;
  int length = 0;
  ByteRun data;
  if (!(in.Int("binaryVersion", binaryVersion) && in.SizedRun("m_length", length, data)))
    return false;
  Release();
  m_pData = std::move(data);
  m_length = length;
  return true;
}

bool CPackageBinary::PackDataAndEncrypt(const unsigned char* pData, int size) {
  VELLO_ASSERT(pData != NULL);
  VELLO_ASSERT(m_pData == NULL);
  VELLO_ASSERT(m_length == 0);
  if (size < 0) return false;
  ByteRun data = NewByteRun(static_cast<size_t>(size));
  Scramble::ApplyPiece(pData, data.get(), static_cast<size_t>(size), size, 0, Scramble::kBinary);
  m_pData = std::move(data);
  m_length = size;
  return true;
}

bool CPackageBinary::UnPackDataAndDecrypt(unsigned char** ppData, int& length) {
  VELLO_ASSERT(ppData != NULL);
  VELLO_ASSERT(m_pData != NULL);
  VELLO_ASSERT(m_length > 0);
  auto* plain = new unsigned char[static_cast<size_t>(m_length)];
  AdviseHugePages(plain, static_cast<size_t>(m_length));
  Scramble::ApplyPiece(m_pData.get(), plain, static_cast<size_t>(m_length), m_length, 0,
                       Scramble::kBinary);
  *ppData = plain;
  length = m_length;
  return true;
}
