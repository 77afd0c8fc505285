#pragma once

#include <cstdio>
#include <string>

#include "system/ByteRun.h"

// Binary file stream over a standard-I/O handle with little-endian typed
// primitives and the (optionally scrambled) string record of the package
// format. Results are true on success; readers stop at the first failure.
class CSysFile {
 public:
  enum SEEK_FLAGS {
    VELLO_SEEK_START = 0,
    VELLO_SEEK_CURRENT = 1,
    VELLO_SEEK_END = 2,
  };

  CSysFile();
  explicit CSysFile(FILE* fp);  // adopts the caller's handle, never closes it
  ~CSysFile();
  CSysFile(const CSysFile&) = delete;
  CSysFile& operator=(const CSysFile&) = delete;

  void OpenFromHandle(FILE* fp);
  bool Open(const std::wstring& path, const std::wstring& mode);
  void Close();
  bool IsOpen() const { return m_fp != nullptr; }

  int Seek(int offset, SEEK_FLAGS origin);
  int Read(void* pv, int n);
  int Write(const void* pv, int n);
  // Bytes between the position and the end of the file, or -1 when the
  // stream cannot tell (not seekable):
  // lets readers refuse a stored count larger than what the file can hold.
  // The end is looked up once per open and again after a write, so the
  // stream's buffer survives many calls.
  long long Remaining();
  // The position, or -1 when the stream cannot tell. Unlike Seek it
  // reports positions beyond 2 GiB.
  long long Tell();
  // Moves n >= 0 bytes forward without reading them; false when the
  // stream cannot seek.
  bool Skip(long long n);
  // Up to n bytes from offset of the file into buffer, leaving the stream's
  // position and buffer alone: the count read (short only at the end of
  // the file), or -1 on an error (errno says which). Sees what is in the
  // file, not bytes still buffered for writing.
  int ReadAt(long long offset, void* buffer, int n);
  // Whether ReadAt can work: the stream has a descriptor that can seek (a
  // file, not a pipe or a stream in memory).
  bool CanReadAt() const;
  // Pushes buffered bytes to the file; false when that fails (a full disk).
  bool Flush();
  // True once a read or write failed (as opposed to reaching the end).
  bool Failed() const;

  bool WriteInt(const int& value);
  bool WriteUInt(const unsigned int& value);
  bool WriteShort(const short& value);
  bool WriteChar(const char& value);
  bool WriteBool(const bool& value);
  bool ReadInt(int& value);
  bool ReadUInt(unsigned int& value);
  bool ReadShort(short& value);
  bool ReadChar(char& value);
  bool ReadBool(bool& value);

  // The string record of the package format (docs/format.md, "Primitives").
  bool WriteString(const std::wstring& text, bool scramble);
  bool ReadString(std::wstring& text, bool scramble);

  bool WriteStringTextMode(const std::wstring& text);
  bool ReadStringTextMode(std::wstring& text);

  static bool WriteFromRamToDisk(const std::wstring& path, const void* data, const int& size);
  static bool ReadToRamFromDisk(const std::wstring& path, unsigned char** data, int& size);
  // The same into the library's own memory for large runs (ByteRun.h).
  // Leaves the outputs unchanged on failure.
  static bool ReadRunFromDisk(const std::wstring& path, ByteRun& bytes, int& size);

  // The per-512-byte-block mask of the string record, applied in place
  // (its own inverse). Exposed for the stream's tests and tools.
  static void ScrambleStringBytes(unsigned char* bytes, size_t length);

 private:
  FILE* m_fp;
  bool m_bOwnsHandle;
  long long m_end;  // end of the file as last looked up; -1 when unknown
};
