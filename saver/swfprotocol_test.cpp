#include "saver/swfprotocol.h"

#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "saver/SaverTestSupport_test.h"

namespace {

// A request that records what the protocol told its client, in order.
class RecordedRequest : public SpecialRequest {
 public:
  explicit RecordedRequest(std::string url, std::string origin = "")
      : m_url(std::move(url)), m_origin(std::move(origin)) {}
  std::string url() const override { return m_url; }
  std::string origin() const override { return m_origin; }
  void didReceiveResponse(const SpecialResponse& r) override {
    events.push_back("response");
    response = r;
  }
  void didLoadData(SwfData d) override {
    events.push_back("data");
    data = std::move(d);
  }
  void didFinishLoading() override { events.push_back("finish"); }
  void didFailWithError(const std::string& reason) override {
    events.push_back("fail");
    failure = reason;
  }

  std::vector<std::string> events;
  SpecialResponse response;
  SwfData data;
  std::string failure;

 private:
  std::string m_url;
  std::string m_origin;
};

class CountingRegistry : public URLProtocolRegistry {
 public:
  void registerScheme(const std::string& scheme) override { schemes.push_back(scheme); }
  std::vector<std::string> schemes;
};

const std::vector<std::string> kServed = {"response", "data", "finish"};
const std::vector<std::string> kRefused = {"fail"};

SwfData Program(const std::string& text) {
  return std::make_shared<const std::vector<unsigned char>>(BytesOf(text));
}

class SpecialProtocolTest : public SaverTest {
 protected:
  void SetUp() override {
    SaverTest::SetUp();
    g_swfFull = Program("FWS main");
    g_swfPreview = Program("FWS preview");
    g_swfSettings = Program("FWS settings");
  }
  void TearDown() override {
    SpecialProtocol::setPlayerFolder("");
    SaverTest::TearDown();  // drops the programs too
  }

  static RecordedRequest Serve(const std::string& url, const std::string& origin = "") {
    RecordedRequest request(url, origin);
    SpecialProtocol protocol(request);
    protocol.startLoading();
    protocol.stopLoading();
    return request;
  }
};

TEST(SpecialProtocolScheme, MatchesWithoutRegardToCaseOnly) {
  struct Case {
    const char* url;
    bool accepted;
  };
  const Case cases[] = {
      {"special:///full.swf", true},    {"SPECIAL:///full.swf", true},
      {"SpEcIaL:///preview.swf", true}, {"special:full.swf", true},
      {"specialx:///full.swf", false},  {"specia:///full.swf", false},
      {"file:///tmp/special", false},   {"full.swf", false},
      {"/special:x", false},            {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(SpecialProtocol::canInitWithRequest(c.url), c.accepted) << c.url;
}

TEST(SpecialProtocolRegistration, RegistersOncePerProcess) {
  CountingRegistry first;
  CountingRegistry second;
  EXPECT_FALSE(SpecialProtocol::isRegistered());
  SpecialProtocol::registerSpecialProtocol(first);
  SpecialProtocol::registerSpecialProtocol(first);
  SpecialProtocol::registerSpecialProtocol(second);
  EXPECT_EQ(first.schemes, std::vector<std::string>{"special"});
  EXPECT_TRUE(second.schemes.empty());
  EXPECT_TRUE(SpecialProtocol::isRegistered());
}

TEST_F(SpecialProtocolTest, ChoosesTheProgramBySubstringInOrderOrRefuses) {
  const struct {
    const char* url;
    const SwfData* expected;  // null: refused
  } cases[] = {
      {"special:///full.swf", &g_swfFull},
      {"special:///preview.swf", &g_swfPreview},
      {"special:///settings.swf", &g_swfSettings},
      // "full.swf" is looked for first, then "settings.swf".
      {"special:///settings.swf/full.swf", &g_swfFull},
      {"special:///full.swf-settings.swf", &g_swfFull},
      {"special:///settings.swf/preview.swf", &g_swfSettings},
      {"special:///a/b/preview.swf", &g_swfPreview},
      {"special://host/full.swf?preview.swf", &g_swfFull},
      {"SPECIAL:///preview.swf#settings.swf", &g_swfPreview},
      {"special:///", nullptr},
      {"special:///other.swf", nullptr},
      {"special:///full.sw", nullptr},
      {"special://full.swf/", nullptr},
      {"special:///ruffle/ruffle.js", nullptr},  // no player folder
  };
  // Every answer carries the type and an open origin.
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const RecordedRequest request = Serve(c.url);
    if (c.expected == nullptr) {
      EXPECT_EQ(request.events, kRefused);
      EXPECT_FALSE(request.failure.empty());
      continue;
    }
    ASSERT_EQ(request.events, kServed);
    EXPECT_EQ(request.data, *c.expected);
    EXPECT_EQ(request.response.url, c.url);
    EXPECT_EQ(request.response.mimeType, "application/x-shockwave-flash");
    EXPECT_EQ(request.response.expectedContentLength, -1);
    EXPECT_EQ(request.response.headers.at("Content-Type"), "application/x-shockwave-flash");
    EXPECT_EQ(request.response.headers.at("Access-Control-Allow-Origin"), "*");
  }
  g_swfSettings = nullptr;
  EXPECT_EQ(Serve("special:///settings.swf").events, kRefused);
}

// The saver's page has no origin of its own ("null"); a document of any
// other origin is refused the programs and the player alike.
TEST_F(SpecialProtocolTest, ServesTheSaversOwnPageOnly) {
  for (const char* origin : {"http://127.0.0.1:8080", "https://example.org", "file://", "special://"}) {
    SCOPED_TRACE(origin);
    for (const char* url : {"special:///full.swf", "special:///preview.swf", "special:///ruffle/ruffle.js"}) {
      const RecordedRequest request = Serve(url, origin);
      EXPECT_EQ(request.events, kRefused) << url;
      EXPECT_EQ(request.failure, std::string("special: serves the saver's own page only, not ") + origin);
    }
  }
  EXPECT_EQ(Serve("special:///full.swf", "null").events, kServed);
  EXPECT_EQ(Serve("special:///full.swf", "").events, kServed);
}

// The player's files, served from its folder with their types.
class SpecialProtocolPlayerTest : public SpecialProtocolTest {
 protected:
  void SetUp() override {
    SpecialProtocolTest::SetUp();
    m_folder = Make("ruffle");
    std::filesystem::create_directories(m_folder / "sub");
    Write("ruffle.js", "window.player = 1;");
    Write("core.ruffle.abc.wasm", std::string("\0asm", 4));
    Write("secret.txt", "not for the page");
    Write("sub/inner.js", "nested");
    std::filesystem::create_directories(m_folder / "folder.wasm");
    std::ofstream(m_folder.parent_path() / "outside.js") << "outside";
    SpecialProtocol::setPlayerFolder(m_folder.string());
  }
  void Write(const std::string& name, const std::string& text) {
    std::ofstream(m_folder / name, std::ios::binary) << text;
  }

  std::filesystem::path m_folder;
};

TEST_F(SpecialProtocolPlayerTest, ServesScriptsAndWebAssemblyWithTheirTypes) {
  // A core of some megabytes, every byte value in it, comes whole.
  std::string big(3 * 1024 * 1024 + 7, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 2654435761u) >> 13);
  Write("big.wasm", big);
  const struct {
    const char* url;
    const char* type;
    std::string bytes;
  } cases[] = {
      {"special:///ruffle/ruffle.js", "text/javascript", "window.player = 1;"},
      {"special:///ruffle/core.ruffle.abc.wasm", "application/wasm", std::string("\0asm", 4)},
      {"special:///ruffle/big.wasm", "application/wasm", big},
  };
  for (const auto& c : cases) {
    const RecordedRequest request = Serve(c.url);
    ASSERT_EQ(request.events, kServed) << c.url;
    EXPECT_EQ(request.response.mimeType, c.type);
    EXPECT_EQ(request.response.headers.at("Content-Type"), c.type);
    EXPECT_EQ(request.response.headers.at("Access-Control-Allow-Origin"), "*");
    ASSERT_NE(request.data, nullptr);
    EXPECT_EQ(std::string(request.data->begin(), request.data->end()), c.bytes);
  }
}

TEST_F(SpecialProtocolPlayerTest, RefusesOtherFilesAndPathsOutOfTheFolder) {
  // Only regular files right inside the folder: a link is refused wherever
  // it leads (out of the folder, to a file outside, or to a file inside),
  // and a FIFO is refused without waiting for a writer.
  std::filesystem::create_symlink("/etc/passwd", m_folder / "link.js");
  std::filesystem::create_symlink(m_folder.parent_path() / "outside.js", m_folder / "out.js");
  std::filesystem::create_symlink("ruffle.js", m_folder / "in.js");
  std::filesystem::create_directory_symlink(m_folder / "sub", m_folder / "sub.js");
  ASSERT_EQ(mkfifo((m_folder / "fifo.js").c_str(), 0600), 0);
  for (const char* url : {"special:///ruffle/secret.txt", "special:///ruffle/missing.js",
                          "special:///ruffle/../outside.js", "special:///ruffle/sub/inner.js",
                          "special:///ruffle/", "special:///ruffle/.hidden.js",
                          "special:///ruffle/folder.wasm", "special:///ruffle/link.js",
                          "special:///ruffle/out.js", "special:///ruffle/in.js",
                          "special:///ruffle/sub.js", "special:///ruffle/fifo.js"}) {
    EXPECT_EQ(Serve(url).events, kRefused) << url;
  }
  SpecialProtocol::setPlayerFolder("");
  EXPECT_EQ(Serve("special:///ruffle/ruffle.js").events, kRefused);
}

}  // namespace
