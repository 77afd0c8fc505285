#pragma once

#include <cstddef>
#include <string>

// Base64 between byte strings and text (standard alphabet, "=" padding, no
// line breaks), with a lenient decoder whose results are part of stored
// data: it validates nothing and skips nothing. Every byte outside the
// alphabet (a line break, a blank, a zero byte, "=" in the first or second
// place of a group of four) decodes as the value 255; only "=" in the third
// or fourth place stops, and it ends the whole decoding. A text without
// padding decodes as if padded; a lone last character decodes to one byte,
// as if followed by a byte outside the alphabet.
class Base64 {
 public:
  static std::string encode(const std::string& bytes);
  static std::string encode(const unsigned char* bytes, std::size_t n);
  // The same text into the caller's buffer of EncodedSize(n) characters
  // (no terminating zero).
  static void encode(const unsigned char* bytes, std::size_t n, char* out);
  static constexpr std::size_t EncodedSize(std::size_t n) { return (n + 2) / 3 * 4; }
  static std::string decode(const std::string& text);

  // The same decoding for a text that arrives in pieces, written straight
  // into the caller's buffer: feeding the pieces in order and finishing
  // gives the bytes decode() gives for their concatenation.
  class Decoder {
   public:
    // out must hold MaxDecodedSize(total text length) bytes.
    explicit Decoder(unsigned char* out) : m_out(out) {}
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    void Feed(const unsigned char* text, std::size_t n);
    // Decodes a last partial group; returns the number of bytes written.
    std::size_t Finish();
    // True once an "=" in the third or fourth place has ended decoding:
    // later text changes nothing.
    bool Stopped() const { return m_stopped; }

   private:
    unsigned char* m_out;
    std::size_t m_written = 0;
    unsigned char m_carry[4] = {};  // a group split across pieces
    std::size_t m_carried = 0;
    bool m_stopped = false;
  };

  static constexpr std::size_t MaxDecodedSize(std::size_t textLength) {
    return textLength / 4 * 3 + (textLength % 4 == 3 ? 2 : textLength % 4 == 0 ? 0 : 1);
  }
};
