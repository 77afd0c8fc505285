#include "builder_package/FileContent.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>

#include <openssl/crypto.h>
#include <zlib.h>

#include "builder_package/Scramble.h"
#include "system/SysFile.h"

FileContent FileContent::Held(RunBytes bytes) {
  FileContent content;
  content.m_bytes = std::make_shared<const RunBytes>(std::move(bytes));
  return content;
}

FileContent FileContent::Secret(RunBytes bytes) {
  FileContent content;
  content.m_bytes = std::shared_ptr<const RunBytes>(new RunBytes(std::move(bytes)), [](const RunBytes* held) {
    OPENSSL_cleanse(const_cast<unsigned char*>(held->data()), held->size());
    delete held;
  });
  return content;
}

FileContent FileContent::Borrowed(const unsigned char* bytes, int length) {
  FileContent content;
  content.m_stored = bytes;
  content.m_length = length;
  content.m_scrambled = false;
  return content;
}

FileContent FileContent::Descrambled(const unsigned char* stored, int length, int k) {
  FileContent content;
  content.m_stored = stored;
  content.m_length = length;
  content.m_k = k;
  return content;
}

FileContent FileContent::DescrambledFromFile(CSysFile& file, long long offset, int length, int k) {
  FileContent content;
  content.m_file = &file;
  content.m_offset = offset;
  content.m_length = length;
  content.m_k = k;
  return content;
}

// A zlib stream inflated in order, its input descrambled a piece at a time.
struct FileContent::Inflater {
  const unsigned char* stored = nullptr;
  int packed = 0;
  int unpacked = 0;
  int k = 0;
  z_stream z{};
  bool open = false;
  bool ended = false;
  std::size_t produced = 0;
  std::size_t consumed = 0;
  unsigned char input[64 * 1024];

  ~Inflater() {
    if (open) inflateEnd(&z);
  }

  bool Restart() {
    if (open) inflateEnd(&z);
    z = z_stream{};
    open = inflateInit(&z) == Z_OK;
    ended = false;
    produced = consumed = 0;
    return open;
  }

  // One step of inflation into z.next_out; false when the stream is
  // damaged or the stored bytes ran out before its end.
  bool Step() {
    if (z.avail_in == 0 && consumed < static_cast<std::size_t>(packed)) {
      const std::size_t m = std::min(sizeof input, static_cast<std::size_t>(packed) - consumed);
      Scramble::ApplyPiece(stored + consumed, input, m, packed, consumed, k);
      z.next_in = input;
      z.avail_in = static_cast<uInt>(m);
      consumed += m;
    }
    const int result = inflate(&z, Z_NO_FLUSH);
    ended = result == Z_STREAM_END;
    return ended || result == Z_OK;
  }

  // Fills out with the next n bytes; false when the stream ends before
  // them or is damaged.
  bool Produce(unsigned char* out, std::size_t n) {
    z.next_out = out;
    z.avail_out = static_cast<uInt>(n);
    while (z.avail_out > 0)
      if (ended || !Step()) return false;
    produced += n;
    return true;
  }

  // Whether the stream ends here (its check value included), with no
  // byte more; bytes stored after its end are not looked at.
  bool EndsHere() {
    unsigned char beyond;
    z.next_out = &beyond;
    z.avail_out = 1;
    while (!ended && z.avail_out > 0)
      if (!Step()) return false;
    return ended && z.avail_out == 1;
  }
};

FileContent FileContent::Inflated(const unsigned char* stored, int packedSize, int unpackedSize, int k) {
  FileContent content;
  content.m_inflater = std::make_shared<Inflater>();
  Inflater& inflater = *content.m_inflater;
  inflater.stored = stored;
  inflater.packed = packedSize;
  inflater.unpacked = unpackedSize;
  inflater.k = k;
  content.m_length = unpackedSize;
  return content;
}

std::string FileContent::Problem() const { return m_problem; }

std::string FileContent::WhyNotRead() {
  return errno != 0 ? std::strerror(errno) : "the package file is shorter than when it was read";
}

std::uint64_t FileContent::size() const {
  return m_stored != nullptr || m_file != nullptr || m_inflater ? static_cast<std::uint64_t>(m_length)
                                                                : m_bytes ? m_bytes->size() : 0;
}

const unsigned char* FileContent::Piece(std::size_t at, std::size_t n, unsigned char* scratch) const {
  if (m_inflater) {
    Inflater& inflater = *m_inflater;
    bool ok = inflater.stored != nullptr && inflater.packed > 0 && inflater.unpacked >= 0 &&
              (inflater.open || inflater.Restart());
    if (ok && at < inflater.produced) ok = inflater.Restart();
    // Pieces asked out of order: what comes before is inflated and dropped.
    while (ok && inflater.produced < at) ok = inflater.Produce(scratch, std::min(n, at - inflater.produced));
    ok = ok && inflater.Produce(scratch, n);
    if (ok && at + n == static_cast<std::size_t>(inflater.unpacked)) ok = inflater.EndsHere();
    if (ok) return scratch;
    m_problem = "does not inflate to its recorded " + std::to_string(inflater.unpacked) + " bytes (" +
                std::to_string(inflater.packed) + " packed)";
    inflater.Restart();
    return nullptr;
  }
  if (m_file != nullptr) {
    const int count = static_cast<int>(n);
    const int got = m_file->ReadAt(m_offset + static_cast<long long>(at), scratch, count);
    if (got != count) {
      if (got >= 0) errno = 0;  // the file ends early
      m_problem = "cannot read its bytes from the package: " + WhyNotRead();
      return nullptr;
    }
    Scramble::ApplyPiece(scratch, scratch, n, m_length, at, m_k);
    return scratch;
  }
  if (m_stored == nullptr) return m_bytes->data() + at;
  if (!m_scrambled) return m_stored + at;
  Scramble::ApplyPiece(m_stored + at, scratch, n, m_length, at, m_k);
  return scratch;
}

FileContent::WriteResult FileContent::WriteTo(int fd, const std::function<void(std::uint64_t)>& progress) const {
  constexpr std::size_t kChunk = 256 * 1024;
  const std::size_t total = static_cast<std::size_t>(size());
  const std::unique_ptr<unsigned char[]> scratch(new unsigned char[std::max<std::size_t>(1, std::min(kChunk, total))]);
  for (std::size_t done = 0; done < total;) {
    const std::size_t n = std::min(kChunk, total - done);
    const unsigned char* piece = Piece(done, n, scratch.get());
    if (piece == nullptr) return WriteResult::readFailed;
    const ssize_t wrote = write(fd, piece, n);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) {
      if (wrote == 0) errno = EIO;
      return WriteResult::writeFailed;
    }
    done += static_cast<std::size_t>(wrote);
    if (progress) progress(static_cast<std::uint64_t>(wrote));
  }
  return WriteResult::written;
}
