#pragma once

// An X server of the test's own: Xvfb on a free display it picks itself.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

class XvfbServer {
 public:
  // Starts Xvfb with these options added; display() is empty when it could
  // not start, and why() says what went wrong.
  explicit XvfbServer(const std::vector<std::string>& options = {}) {
    int fds[2];
    if (pipe(fds) != 0) {
      m_why = "no pipe for Xvfb";
      return;
    }
    m_pid = fork();
    if (m_pid == 0) {
      close(fds[0]);
      const int devnull = open("/dev/null", O_RDWR);
      dup2(devnull, STDIN_FILENO);
      dup2(devnull, STDOUT_FILENO);
      dup2(devnull, STDERR_FILENO);
      const std::string fd = std::to_string(fds[1]);
      std::vector<const char*> argv = {"Xvfb", "-displayfd", fd.c_str(), "-screen", "0",
                                       "1024x768x24", "-nolisten", "tcp", "-noreset"};
      for (const std::string& option : options) argv.push_back(option.c_str());
      argv.push_back(nullptr);
      execvp("Xvfb", const_cast<char* const*>(argv.data()));
      _exit(127);
    }
    close(fds[1]);
    if (m_pid < 0) {
      close(fds[0]);
      m_why = "cannot fork for Xvfb";
      return;
    }
    // Xvfb writes the display number once it accepts connections.
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
      m_why = "Xvfb did not start (is it installed? scripts/install-deps.sh installs xvfb)";
      stop();
      return;
    }
    m_display = ":" + number;
  }
  ~XvfbServer() { stop(); }

  const std::string& display() const { return m_display; }
  const std::string& why() const { return m_why; }

  // Ends the server at once, as a crash would.
  void crash() {
    if (m_pid > 0) kill(m_pid, SIGKILL);
    stop();
  }

 private:
  void stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    waitpid(m_pid, nullptr, 0);
    m_pid = -1;
  }
  pid_t m_pid = -1;
  std::string m_display;
  std::string m_why;
};
