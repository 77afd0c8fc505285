#include "demo/DemoSwf.h"

#include <algorithm>
#include <cstdlib>
#include <string>

namespace {

constexpr int kTwips = 20;

// SWF bit fields are written most significant bit first and padded to a
// byte where a structure ends.
class BitWriter {
 public:
  void Unsigned(int bits, std::uint32_t value) {
    for (int i = bits - 1; i >= 0; --i) Bit((value >> i) & 1u);
  }
  void Signed(int bits, std::int32_t value) { Unsigned(bits, static_cast<std::uint32_t>(value)); }
  void Align() {
    while (m_used != 0) Bit(0);
  }
  void UI8(std::uint8_t v) {
    Align();
    m_bytes.push_back(v);
  }
  void UI16(std::uint16_t v) {
    UI8(v & 0xff);
    UI8(v >> 8);
  }
  void UI32(std::uint32_t v) {
    UI16(v & 0xffff);
    UI16(v >> 16);
  }
  void Color(const Rgb& c) {
    UI8(c.red);
    UI8(c.green);
    UI8(c.blue);
  }
  std::vector<unsigned char> Take() {
    Align();
    return std::move(m_bytes);
  }

 private:
  void Bit(std::uint32_t bit) {
    if (m_used == 0) m_bytes.push_back(0);
    if (bit) m_bytes.back() |= static_cast<unsigned char>(0x80 >> m_used);
    m_used = (m_used + 1) % 8;
  }

  std::vector<unsigned char> m_bytes;
  int m_used = 0;  // bits used in the last byte
};

// Bits a signed field needs to hold value (at least 1).
int SignedBits(std::int32_t value) {
  int bits = 1;
  while (value < -(1 << (bits - 1)) || value >= (1 << (bits - 1))) ++bits;
  return bits;
}

void WriteRect(BitWriter& w, int xMin, int xMax, int yMin, int yMax) {
  const int bits = std::max({SignedBits(xMin), SignedBits(xMax), SignedBits(yMin), SignedBits(yMax)});
  w.Unsigned(5, bits);
  w.Signed(bits, xMin);
  w.Signed(bits, xMax);
  w.Signed(bits, yMin);
  w.Signed(bits, yMax);
  w.Align();
}

void WriteTranslation(BitWriter& w, int x, int y) {
  const int bits = std::max(SignedBits(x), SignedBits(y));
  w.Unsigned(1, 0);  // no scale
  w.Unsigned(1, 0);  // no rotation
  w.Unsigned(5, bits);
  w.Signed(bits, x);
  w.Signed(bits, y);
  w.Align();
}

// A straight edge along one axis.
void WriteAxisEdge(BitWriter& w, bool vertical, int delta) {
  const int bits = std::max(2, SignedBits(delta));
  w.Unsigned(1, 1);  // edge record
  w.Unsigned(1, 1);  // straight
  w.Unsigned(4, bits - 2);
  w.Unsigned(1, 0);  // not a general line
  w.Unsigned(1, vertical ? 1 : 0);
  w.Signed(bits, delta);
}

std::vector<unsigned char> Tag(int code, const std::vector<unsigned char>& body) {
  BitWriter w;
  if (body.size() < 0x3f) {
    w.UI16(static_cast<std::uint16_t>(code << 6 | static_cast<int>(body.size())));
  } else {
    w.UI16(static_cast<std::uint16_t>(code << 6 | 0x3f));
    w.UI32(static_cast<std::uint32_t>(body.size()));
  }
  std::vector<unsigned char> tag = w.Take();
  tag.insert(tag.end(), body.begin(), body.end());
  return tag;
}

enum TagCode {
  kEnd = 0,
  kShowFrame = 1,
  kDefineShape = 2,
  kSetBackgroundColor = 9,
  kDoAction = 12,
  kPlaceObject2 = 26,
  kFileAttributes = 69,
  kSymbolClass = 76,
  kDoAbc = 82,
};

// The whole movie: header, stage of the demo's size, then the tags.
std::vector<unsigned char> Movie(const std::vector<unsigned char>& tags, int frames) {
  BitWriter header;
  WriteRect(header, 0, kDemoStageWidth * kTwips, 0, kDemoStageHeight * kTwips);
  header.UI8(0);  // frame rate, 8.8 fixed point
  header.UI8(kDemoFrameRate);
  header.UI16(static_cast<std::uint16_t>(frames));
  std::vector<unsigned char> rest = header.Take();
  rest.insert(rest.end(), tags.begin(), tags.end());

  std::vector<unsigned char> swf = {'F', 'W', 'S', kDemoSwfVersion};
  const std::uint32_t length = static_cast<std::uint32_t>(8 + rest.size());
  for (int i = 0; i < 4; ++i) swf.push_back(static_cast<unsigned char>(length >> (8 * i)));
  swf.insert(swf.end(), rest.begin(), rest.end());
  return swf;
}

void Append(std::vector<unsigned char>& to, const std::vector<unsigned char>& bytes) {
  to.insert(to.end(), bytes.begin(), bytes.end());
}

// A STRING field: the text's bytes and a NUL.
std::vector<unsigned char> SwfString(const std::string& text) {
  std::vector<unsigned char> bytes(text.begin(), text.end());
  bytes.push_back(0);
  return bytes;
}

std::vector<unsigned char> SquareShape(std::uint16_t id, const Rgb& color) {
  const int side = kDemoSquareSize * kTwips;
  BitWriter w;
  w.UI16(id);
  WriteRect(w, 0, side, 0, side);
  w.UI8(1);  // one fill style: solid
  w.UI8(0x00);
  w.Color(color);
  w.UI8(0);  // no line styles
  w.Unsigned(4, 1);  // fill style index bits
  w.Unsigned(4, 0);  // line style index bits
  // Style change: move to the corner, fill on the right of the path.
  w.Unsigned(1, 0);  // not an edge
  w.Unsigned(1, 0);  // no new styles
  w.Unsigned(1, 0);  // line style unchanged
  w.Unsigned(1, 1);  // fill style 1 set
  w.Unsigned(1, 0);  // fill style 0 unchanged
  w.Unsigned(1, 1);  // move to
  w.Unsigned(5, 1);
  w.Signed(1, 0);
  w.Signed(1, 0);
  w.Unsigned(1, 1);  // fill style 1 = the solid fill
  // Clockwise on screen: right, down, left, up.
  WriteAxisEdge(w, false, side);
  WriteAxisEdge(w, true, side);
  WriteAxisEdge(w, false, -side);
  WriteAxisEdge(w, true, -side);
  w.Unsigned(6, 0);  // end of shape
  return w.Take();
}

// Where the square stands in a frame: sliding left to right, half-way down.
std::pair<int, int> SquarePosition(int frame, int frames) {
  const int travel = (kDemoStageWidth - kDemoSquareSize) * kTwips;
  const int x = frames > 1 ? travel * frame / (frames - 1) : travel / 2;
  const int y = (kDemoStageHeight - kDemoSquareSize) / 2 * kTwips;
  return {x, y};
}

std::vector<unsigned char> Place(bool first, int frame, int frames) {
  const auto [x, y] = SquarePosition(frame, frames);
  BitWriter w;
  w.UI8(first ? 0x06 : 0x05);  // matrix + character, or matrix + move
  w.UI16(1);                   // depth
  if (first) w.UI16(1);        // character id
  WriteTranslation(w, x, y);
  return w.Take();
}

}  // namespace

std::vector<unsigned char> MakeDemoSwf(const DemoSwfStyle& style) {
  const int frames = std::max(1, style.frames);
  std::vector<unsigned char> tags;
  Append(tags, Tag(kFileAttributes, {0, 0, 0, 0}));  // no network, no ActionScript 3
  BitWriter background;
  background.Color(style.background);
  Append(tags, Tag(kSetBackgroundColor, background.Take()));
  Append(tags, Tag(kDefineShape, SquareShape(1, style.square)));
  for (int frame = 0; frame < frames; ++frame) {
    Append(tags, Tag(kPlaceObject2, Place(frame == 0, frame, frames)));
    Append(tags, Tag(kShowFrame, {}));
  }
  Append(tags, Tag(kEnd, {}));
  return Movie(tags, frames);
}

std::vector<unsigned char> MakeCorruptCodeSwf(const Rgb& background) {
  std::vector<unsigned char> tags;
  Append(tags, Tag(kFileAttributes, {0x08, 0, 0, 0}));  // ActionScript 3
  BitWriter color;
  color.Color(background);
  Append(tags, Tag(kSetBackgroundColor, color.Take()));
  // Code that claims more than it holds: version 46.16, then a constant
  // pool of 255 integers and nothing after them.
  std::vector<unsigned char> code = {1, 0, 0, 0};  // lazily initialised
  Append(code, SwfString("main"));
  code.insert(code.end(), {0x10, 0x00, 0x2e, 0x00, 0xff, 0x01});
  Append(tags, Tag(kDoAbc, code));
  BitWriter symbols;
  symbols.UI16(1);
  symbols.UI16(0);  // the document class
  std::vector<unsigned char> symbolClass = symbols.Take();
  Append(symbolClass, SwfString("Main"));
  Append(tags, Tag(kSymbolClass, symbolClass));
  Append(tags, Tag(kShowFrame, {}));
  Append(tags, Tag(kEnd, {}));
  return Movie(tags, 1);
}

namespace {

// ActionScript 1 byte code: one action record each.
enum ActionCode : std::uint8_t {
  kActionEnd = 0x00,
  kActionPop = 0x17,
  kActionGetVariable = 0x1c,
  kActionGetMember = 0x4e,
  kActionCallMethod = 0x52,
  kActionGetUrl = 0x83,
  kActionPush = 0x96,
};

// An action with a body: code, UI16 length, body.
void Action(std::vector<unsigned char>& code, ActionCode action, const std::vector<unsigned char>& body) {
  code.push_back(action);
  code.push_back(static_cast<unsigned char>(body.size() & 0xff));
  code.push_back(static_cast<unsigned char>(body.size() >> 8));
  Append(code, body);
}

void PushString(std::vector<unsigned char>& code, const std::string& text) {
  std::vector<unsigned char> body = {0};  // type 0: string
  Append(body, SwfString(text));
  Action(code, kActionPush, body);
}

void PushInteger(std::vector<unsigned char>& code, std::uint32_t value) {
  Action(code, kActionPush,
         {7, static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
          static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)});
}

std::vector<unsigned char> ActionMovie(const Rgb& background, const std::vector<unsigned char>& code) {
  std::vector<unsigned char> tags;
  Append(tags, Tag(kFileAttributes, {0, 0, 0, 0}));  // ActionScript 1
  BitWriter color;
  color.Color(background);
  Append(tags, Tag(kSetBackgroundColor, color.Take()));
  Append(tags, Tag(kDoAction, code));
  Append(tags, Tag(kShowFrame, {}));
  Append(tags, Tag(kEnd, {}));
  return Movie(tags, 1);
}

}  // namespace

std::vector<unsigned char> MakePageActionSwf(const Rgb& background, const std::string& script,
                                             const std::string& url, const std::string& target) {
  std::vector<unsigned char> code;
  if (!script.empty()) {
    // Arguments first, then their count, the object and the method's name.
    PushString(code, script);
    PushInteger(code, 1);
    PushString(code, "flash");
    code.push_back(kActionGetVariable);
    PushString(code, "external");
    code.push_back(kActionGetMember);
    PushString(code, "ExternalInterface");
    code.push_back(kActionGetMember);
    PushString(code, "call");
    code.push_back(kActionCallMethod);
    code.push_back(kActionPop);
  }
  if (!url.empty()) {
    std::vector<unsigned char> body = SwfString(url);
    Append(body, SwfString(target));
    Action(code, kActionGetUrl, body);
  }
  code.push_back(kActionEnd);
  return ActionMovie(background, code);
}
