#pragma once

#include <memory>
#include <string>

#include "builder_package/ReadFailure.h"
#include "system/ByteRun.h"

class CSysFile;

// Reads the fields of package records and says why when one fails: each
// operation returns false after filling the ReadFailure with the position,
// the current record's name, the field and the problem. An output changes
// only when all of its bytes arrived.
class RecordReader {
 public:
  RecordReader(CSysFile& file, ReadFailure& failure, std::string record)
      : m_file(file), m_failure(failure), m_record(std::move(record)) {}

  CSysFile& File() { return m_file; }
  // Names the record that the following fields belong to.
  void SetRecord(std::string record) { m_record = std::move(record); }

  bool Int(const char* field, int& value);
  bool UInt(const char* field, unsigned int& value);
  bool Bool(const char* field, bool& value);
  bool Text(const char* field, std::wstring& value);

  // The size of a byte run: an int that must not be negative.
  bool Size(const char* field, int& size);
  // A count of entries. A count of 0 or less reads no entry (count
  // becomes 0); a count larger than the bytes left fails, as no entry is
  // shorter than a byte.
  bool Count(const char* field, int& count);
  // size bytes (size >= 0) into a new run of exactly that size (ByteRun.h). Fails,
  // before allocating, when the bytes left in the file are fewer; on a
  // stream that cannot tell, reads in pieces so that a false size cannot
  // allocate more than the stream delivers plus one piece.
  bool Run(const char* field, int size, ByteRun& bytes);
  // For size bytes (size >= 0) that stay in the file: notes where they
  // start and moves past them. Fails like Run when fewer bytes are left.
  // Requires a file that can seek (CSysFile::CanReadAt).
  bool Place(const char* field, int size, long long& offset);
  // Size, then Run when the size is positive; both outputs set together.
  bool SizedRun(const char* field, int& size, ByteRun& bytes);

  // Records the failure of field (problem as text) and returns false.
  bool Fail(const char* field, const std::string& problem);
  // A nested record failed: keeps its reason under the given record name,
  // or under the nested record's own when it gave none.
  bool FailWithin(const std::string& record, const ReadFailure& inner);

 private:
  CSysFile& m_file;
  ReadFailure& m_failure;
  std::string m_record;
};
