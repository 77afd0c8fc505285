// What a program in a package can do to lumetta through the page it plays
// in, tried with programs made for it on a real X display: flood the page's
// message handler, print through it, leave the page, reach the network.
// LUMETTA_UNDER_TEST names another lumetta to try (an installed one, say).

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "demo/DemoSwf.h"
#include "saver/SaverTestSupport_test.h"
#include "tests/lumetta/LumettaProcess_test.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kPlayLimit = 120s;
// The most lumetta's own process may hold while a program floods it. The
// address sanitizer's shadow and quarantine add their own.
#if defined(__SANITIZE_ADDRESS__)
constexpr long long kMostResident = 800ll << 20;
#else
constexpr long long kMostResident = 400ll << 20;
#endif
constexpr Rgb kStage{0x20, 0x40, 0x60};

std::string Lumetta() {
  const char* other = std::getenv("LUMETTA_UNDER_TEST");
  return other != nullptr && *other != '\0' ? other : LUMETTA_PROGRAM;
}

// An HTTP server on 127.0.0.1 that answers every request with a small page
// and keeps the request lines.
class LocalServer {
 public:
  LocalServer() {
    m_socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(m_socket, 16) != 0 ||
        getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      return;
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { serve(); });
  }
  ~LocalServer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    close(m_socket);
  }
  std::string origin() const { return "http://127.0.0.1:" + std::to_string(m_port); }
  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
  }

 private:
  void serve() {
    while (!m_stop) {
      pollfd waiting = {m_socket, POLLIN, 0};
      if (poll(&waiting, 1, 100) <= 0) continue;
      const int client = accept4(m_socket, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) continue;
      std::string request;
      char buffer[4096];
      pollfd reading = {client, POLLIN, 0};
      while (request.find("\r\n\r\n") == std::string::npos && poll(&reading, 1, 2000) > 0) {
        const ssize_t n = read(client, buffer, sizeof buffer);
        if (n <= 0) break;
        request.append(buffer, static_cast<size_t>(n));
      }
      {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(request.substr(0, request.find("\r\n")));
      }
      const std::string answer =
          "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nAccess-Control-Allow-Origin: *\r\n"
          "Content-Length: 2\r\n\r\nok";
      [[maybe_unused]] ssize_t sent = write(client, answer.data(), answer.size());
      close(client);
    }
  }

  int m_socket = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
  mutable std::mutex m_mutex;
  std::vector<std::string> m_requests;
};

class PageConfinementTest : public XvfbTest {
 protected:
  void SetUp() override {
    XvfbTest::SetUp();
    if (IsSkipped()) return;
    m_root = FreshTestFolder("lumetta-page-");
    std::filesystem::create_directories(m_root / "tmp");
    m_output = SnapshotDir() + "/" + TestName() + ".log";
  }
  void TearDown() override { std::filesystem::remove_all(m_root); }

  std::unique_ptr<LumettaProcess> Play(const Bytes& program, std::vector<std::string> args,
                                       const std::optional<Bytes>& settings = std::nullopt) {
    if (!MakePackageFolder(m_root / "resources", {FormContent{program, {}, settings}})) return nullptr;
    // Given first: the test's own arguments come later and win.
    args.insert(args.begin(), {"--platform", "gtk", "--window-size", "320x240", "--resources",
                               (m_root / "resources").string()});
    return std::make_unique<LumettaProcess>(args, s_server->display(), Temp(), m_output, "",
                                            Lumetta());
  }
  std::string Temp() const { return (m_root / "tmp").string(); }
  size_t Programs() const { return ExtractedPrograms(Temp()); }

  std::filesystem::path m_root;
  std::string m_output;
};

// A program that tries to post 4 MB messages and a forged one of the
// player's to the page's handler (or a frame's) every millisecond, asks the
// special scheme for something new as often, and raises an error whose text
// would set the terminal's title and colours. lumetta ignores what is not
// its own page's, prints nothing that drives a terminal, keeps its memory,
// and stops when told, on time.
TEST_F(PageConfinementTest, AFloodOfPageMessagesNeitherStopsNorSwampsIt) {
  constexpr int kSeconds = 20;
  const std::string flood = R"JS((function () {
    window.dispatchEvent(new ErrorEvent("error", { message: "\u001b]0;owned\u0007\u001b[31mred\u009b" }));
    // The page's handler, or failing that a frame's.
    let handler = null;
    try {
      const frame = document.createElement("iframe");
      document.body.appendChild(frame);
      handler = window.webkit.messageHandlers.lumetta || frame.contentWindow.webkit.messageHandlers.lumetta;
    } catch (e) {}
    const big = "x".repeat(4 << 20);
    let asked = 0;
    setInterval(function () {
      try {
        handler.postMessage("failed forged by the program");
        handler.postMessage(big);
      } catch (e) {}
      fetch("special:///nothing-" + (++asked)).catch(function () {});
    }, 1);
    return 0;
}))JS";
  auto lumetta = Play(MakePageActionSwf(kStage, flood), {"--seconds", std::to_string(kSeconds)});
  ASSERT_TRUE(lumetta);
  ASSERT_TRUE(lumetta->waitForOutput("showing the main program", kPlayLimit)) << lumetta->output();
  const auto shown = Clock::now();
  long long peak = -1;
  int status = -1;
  while (Clock::now() - shown < std::chrono::seconds(kSeconds + 30)) {
    const long long now = ProcessBytes(lumetta->pid(), "VmHWM");
    if (now > 0) peak = now;
    status = lumetta->waitForExit(0s);
    if (status >= 0) break;
    std::this_thread::sleep_for(100ms);
  }
  const double took = std::chrono::duration<double>(Clock::now() - shown).count();
  if (status < 0) status = lumetta->stopWith(SIGKILL, 10s);
  const std::string output = lumetta->output();
  EXPECT_EQ(status, 0) << output.substr(0, 4000);
  EXPECT_LE(took, kSeconds + 2.0) << "--seconds " << kSeconds << " was kept after " << took << " s";
  EXPECT_GT(peak, 0);
  EXPECT_LT(peak, kMostResident) << "peak resident size " << (peak >> 20) << " MB";
  RecordProperty("peak_resident_mb", std::to_string(peak >> 20));
  std::cout << "peak resident size of lumetta: " << (peak >> 20) << " MB; stopped " << took
            << " s after it showed the program (--seconds " << kSeconds << ")\n";
  EXPECT_LT(output.size(), 1u << 20);
  EXPECT_NE(output.find("page: loaded "), std::string::npos) << output.substr(0, 4000);
  EXPECT_EQ(output.find("Overriding existing handler"), std::string::npos) << output.substr(0, 4000);
  EXPECT_EQ(output.find("forged"), std::string::npos) << output.substr(0, 4000);
  EXPECT_EQ(output.find("xxxx"), std::string::npos);
  EXPECT_NE(output.find("\\x1b]0;owned\\x07\\x1b[31mred\\u009b"), std::string::npos) << output.substr(0, 4000);
  EXPECT_EQ(output.find('\x1b'), std::string::npos);
  EXPECT_NE(output.find("refused special:///nothing-1 ("), std::string::npos) << output.substr(0, 4000);
  EXPECT_NE(output.find("(further requests are not shown)"), std::string::npos);
  EXPECT_EQ(Programs(), 0u);
}

// A program that frames a web page, opens a window on one, fetches from a
// server and then, with no script at all, asks the player to go to a web
// page: the page stays (said once), no document of the server's is ever
// asked for, and its fetch reaches the server only with --network. The
// programs are not in the temporary folder while it plays: a SIGKILL
// leaves nothing behind.
TEST_F(PageConfinementTest, ThePageStaysAndReachesTheNetworkOnlyWhenAsked) {
  LocalServer server;
  const std::string away = server.origin() + "/away.html";
  const std::string script = "(function () {"
                             " const frame = document.createElement(\"iframe\");"
                             " frame.src = \"" + server.origin() + "/frame.html\";"
                             " document.body.appendChild(frame);"
                             " window.open(\"" + server.origin() + "/window.html\");"
                             " fetch(\"" + server.origin() + "/fetch\").catch(function () {});"
                             " return 0; })";
  const Bytes program = MakePageActionSwf(kStage, script, away, "_self");
  // The settings program, in the configuration sheet, never reaches it.
  const Bytes settings = MakePageActionSwf(
      kStage, "(function () { fetch(\"" + server.origin() + "/settings\").catch(function () {});"
              " return 0; })");
  for (const bool network : {false, true}) {
    SCOPED_TRACE(network ? "--network" : "no network");
    const size_t before = server.requests().size();
    // Large enough that the sheet does not cover it all (that pauses it).
    std::vector<std::string> args = {"--seconds", "300", "--configure", "--window-size", "800x600"};
    if (network) args.push_back("--network");
    auto lumetta = Play(program, args, settings);
    ASSERT_TRUE(lumetta);
    const std::string left = "lumetta: the page tried to leave for " + server.origin() + "/";
    ASSERT_TRUE(lumetta->waitForOutput("page: loaded ", kPlayLimit, 2)) << lumetta->output();
    EXPECT_TRUE(lumetta->waitForOutput(left, 20s)) << lumetta->output();
    EXPECT_EQ(Programs(), 0u) << "the programs are read; their names are not needed";
    for (auto end = Clock::now() + (network ? 30s : 3s); Clock::now() < end;) {
      if (network && server.requests().size() > before) break;
      std::this_thread::sleep_for(100ms);
    }
    std::this_thread::sleep_for(1s);
    const std::vector<std::string> all = server.requests();
    const std::vector<std::string> asked(all.begin() + static_cast<long>(before), all.end());
    EXPECT_EQ(asked, network ? std::vector<std::string>{"GET /fetch HTTP/1.1"} : std::vector<std::string>{})
        << lumetta->output();
    EXPECT_EQ(lumetta->count("lumetta: the page tried to leave"), 1u) << lumetta->output();
    EXPECT_EQ(lumetta->stopWith(SIGKILL, 10s), -1);
    EXPECT_EQ(Programs(), 0u) << "a SIGKILL left programs behind";
  }
}

}  // namespace
