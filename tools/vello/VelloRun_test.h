#pragma once

// Runs the real vello program and composes its inputs, for the end-to-end
// tests of the tool.

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <functional>
#include <string>
#include <vector>

#include "builder_package/RecordBytes_test.h"
#include "system/TempDir_test.h"

namespace vellorun {

using Bytes = std::vector<unsigned char>;

struct Result {
  int exitCode = -1;  // -1 when ended by a signal
  int signal = 0;
  std::string out, err;
};

// Starts the program (VELLO_PROGRAM or a copy of it) with the arguments,
// standard output and error caught in files of scratch; inChild runs in
// the child just before the program (to set limits or become another
// user). A run that hangs is ended by SIGALRM after half a minute.
inline pid_t StartVello(const TempDir& scratch, const std::vector<std::string>& args,
                        const std::function<void()>& inChild = nullptr, const std::string& program = VELLO_PROGRAM) {
  const std::string outPath = scratch.File(".stdout"), errPath = scratch.File(".stderr");
  const pid_t pid = fork();
  if (pid == 0) {
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    alarm(30);
    if (inChild) inChild();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  return pid;
}

// Waits for a vello started by StartVello and gathers what it said.
inline Result FinishVello(const TempDir& scratch, pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  Result r;
  if (WIFEXITED(status)) r.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) r.signal = WTERMSIG(status);
  const Bytes out = TempDir::ReadAll(scratch.File(".stdout")), err = TempDir::ReadAll(scratch.File(".stderr"));
  r.out.assign(out.begin(), out.end());
  r.err.assign(err.begin(), err.end());
  return r;
}

// Runs VELLO_PROGRAM to its end. fileSizeLimit > 0 sets RLIMIT_FSIZE in
// the child, memoryLimit > 0 RLIMIT_AS.
inline Result Vello(const TempDir& scratch, const std::vector<std::string>& args, long fileSizeLimit = 0,
                    long memoryLimit = 0) {
  const rlimit fileSize{static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
  const rlimit memory{static_cast<rlim_t>(memoryLimit), static_cast<rlim_t>(memoryLimit)};
  return FinishVello(scratch, StartVello(scratch, args, [&] {
                       if (fileSizeLimit > 0) setrlimit(RLIMIT_FSIZE, &fileSize);
                       if (memoryLimit > 0) setrlimit(RLIMIT_AS, &memory);
                     }));
}

// That the run ended with the exit code and said the text on standard error.
inline ::testing::AssertionResult Said(const Result& r, int exitCode, const std::string& text) {
  if (r.exitCode == exitCode && r.err.find(text) != std::string::npos) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "exit " << r.exitCode << " (wanted " << exitCode << "), said:\n"
                                       << r.err << "wanted it to say: " << text;
}

// What `vello info --json` says of the package, values shown or not.
inline nlohmann::json Info(const TempDir& scratch, const std::string& package, bool showValues) {
  std::vector<std::string> args = {"info", "--json", package};
  if (showValues) args.push_back("--show-values");
  const Result r = Vello(scratch, args);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  return r.exitCode == 0 ? nlohmann::json::parse(r.out) : nlohmann::json();
}

// An uncompressed SWF program of n bytes (n >= 8) whose header states n;
// the body is a pattern that depends on seed.
inline Bytes Fws(size_t n, unsigned char version, int seed) {
  Bytes b(n);
  b[0] = 'F', b[1] = 'W', b[2] = 'S', b[3] = version;
  for (int i = 0; i < 4; ++i) b[4 + i] = static_cast<unsigned char>(n >> (8 * i));
  for (size_t i = 8; i < n; ++i) b[i] = static_cast<unsigned char>((i * 7 + seed * 13) ^ (i >> 5));
  return b;
}

// A CWS program: the body of an FWS one compressed with zlib.
inline Bytes Cws(const Bytes& fws) {
  Bytes b(fws.begin(), fws.begin() + 8);
  b[0] = 'C';
  recordbytes::Append(b, recordbytes::Compressed(Bytes(fws.begin() + 8, fws.end()), 9));
  return b;
}

// A version-14 package with one plain form holding program, then the
// sections with the files map given (each file holding fileContent) and
// the splash as stored.
inline Bytes PackageWith(const Bytes& program, const std::vector<std::string>& fileNames,
                         const Bytes& splashSection = {}, const Bytes& fileContent = recordbytes::Text("escaped"),
                         const Bytes& keyText = {}) {
  using namespace recordbytes;
  Form form;
  form.swf = keyText.empty() ? Scrambled(program, 122) : Bytes(256, 7);  // protected: two blocks
  form.keyText = keyText;
  Bytes sections(8, 0);  // no DLL binary, no secure variable
  Int(sections, static_cast<int32_t>(fileNames.size()));
  for (const std::string& name : fileNames) {
    String(sections, name);
    Append(sections, BinaryRecord(fileContent));
  }
  Append(sections, Bytes(9 * 4, 0));  // no encrypted string, the options
  Append(sections, splashSection.empty() ? Bytes(8, 0) : splashSection);
  Append(sections, Bytes(16 * 4, 0));  // the sections after the splash
  return PackageFile(14, {FormRecord(14, form)}, sections);
}

}  // namespace vellorun
