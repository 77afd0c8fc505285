// How vello writes packages: what a rewrite would drop, what stands at the
// target (devices, FIFOs, links, hard links), whose the new file is, paths
// that are not UTF-8, and a save cut short by a signal or a size limit.

#include <gtest/gtest.h>

#include <grp.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>

#include "tools/vello/VelloRun_test.h"

using vellorun::Said;
using vellorun::Vello;
using namespace recordbytes;
namespace fs = std::filesystem;

namespace {

constexpr uid_t kOtherUser = 65534;  // nobody
constexpr gid_t kOtherGroup = 65534;

bool IsRoot() { return geteuid() == 0; }

std::set<std::string> Entries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
  return names;
}

struct stat Lstat(const std::string& path) {
  struct stat st = {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

// A small sound package of the newest version.
Bytes Package() { return StoredFile(14).out; }

// The rewriting commands, each with the package to rewrite in place (the
// package's secure variables hold "alpha" twice).
std::vector<std::vector<std::string>> RewritesOf(const std::string& package) {
  return {{"upgrade", package, "--drop-duplicates"},
          {"set-swf-version", package, "--form", "0", "7", "--drop-duplicates"}};
}

// Runs a vello command as another user, from a copy in scratch (which the
// test opens to others): the build folder may lie where that user cannot
// enter, as in a clone under /root or in a mktemp -d folder.
vellorun::Result VelloAs(uid_t uid, gid_t gid, const TempDir& scratch, const std::vector<std::string>& args) {
  const std::string program = scratch.File(".vello");
  if (!fs::exists(program)) {
    fs::copy_file(VELLO_PROGRAM, program);
    chmod(program.c_str(), 0755);
  }
  const auto becomeTheUser = [&] {
    if (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0) _exit(126);
  };
  return vellorun::FinishVello(scratch, vellorun::StartVello(scratch, args, becomeTheUser, program));
}

// Bytes after the last section the reader knows, or the earlier of two
// records of one key (the package keeps the later): each rewrite refuses
// to drop them, keeping the file, unless told; told, it says what it drops.
TEST(Saving, RewritesRefuseToDropWhatTheyDidNotReadUnlessTold) {
  TempDir dir;
  // A whole newest package whose version field reads 1: a reader of
  // version 1 stops after the forms.
  Bytes readsAsOne = Package();
  readsAsOne[0] = 1;
  Bytes formsOnly = PackageHeader(1, 2);
  Append(formsOnly, FormRecord(14, OneForm()));
  Append(formsOnly, FormRecord(14, OneForm()));
  // A newer version, 20, with a section this reader does not know.
  Bytes newer = Package();
  newer[0] = 20;
  const Bytes unknownSection = Text("a section of version 20");
  Append(newer, unknownSection);
  const auto trailing = [](size_t bytes, size_t at) {
    return std::to_string(bytes) + " bytes from byte " + std::to_string(at) + " to the end";
  };
  const std::string package = dir.File("p.dat"), other = dir.File("other.dat");

  const struct {
    const char* name;
    Bytes file;
    std::string refusal, flag, dropping;
  } cases[] = {
      {"version 1", readsAsOne, trailing(readsAsOne.size() - formsOnly.size(), formsOnly.size()), "--drop-trailing",
       "dropping " + std::to_string(readsAsOne.size() - formsOnly.size()) + " bytes"},
      {"version 20", newer, trailing(unknownSection.size(), Package().size()), "--drop-trailing",
       "dropping " + std::to_string(unknownSection.size()) + " bytes"},
      {"a key held twice", Package(),
       package + ": holds more than one record of the secure variable \"alpha\"; rewriting it would keep "
                 "only the later; nothing written (--drop-duplicates drops the earlier)",
       "--drop-duplicates", "dropping the earlier record of the secure variable \"alpha\""},
  };
  for (const auto& c : cases) {
    std::vector<std::vector<std::string>> commands = {
        {"upgrade", package}, {"set-swf-version", package, "--form", "0", "7"}, {"upgrade", package, "-o", other}};
    for (auto args : commands) {
      SCOPED_TRACE(c.name + (" " + args[0] + " " + args.back()));
      dir.Write("p.dat", c.file);
      fs::remove(other);
      if (c.flag != "--drop-duplicates") args.push_back("--drop-duplicates");
      EXPECT_TRUE(Said(Vello(dir, args), 1, c.refusal));
      EXPECT_EQ(TempDir::ReadAll(package), c.file);
      EXPECT_FALSE(fs::exists(other));

      args.push_back(c.flag);
      EXPECT_TRUE(Said(Vello(dir, args), 0, c.dropping));
    }
  }
  // What is kept is exactly what was read: the upgraded version-1 package
  // holds its header and forms, and empty sections.
  dir.Write("p.dat", readsAsOne);
  ASSERT_EQ(Vello(dir, {"upgrade", package, "--drop-trailing", "--drop-duplicates"}).exitCode, 0);
  Append(formsOnly, EmptySections());
  formsOnly[0] = 14;
  EXPECT_EQ(TempDir::ReadAll(package), formsOnly);
}

// Anything at the target but a package of its own (a device, a FIFO, a
// socket, a folder, a symbolic link, a file with other hard links) is
// refused by every command that would write there, and left as it was;
// only extract may replace a file with other hard links.
TEST(Saving, ATargetThatIsNotAPackageOfItsOwnIsLeftAsItWas) {
  TempDir dir;
  const std::string main = dir.Write("main.swf", vellorun::Fws(64, 9, 1));
  const std::string package = dir.Write("p.dat", Package()), named = dir.Write("named.dat", Package());
  fs::create_directory(dir.path() / "work");
  // Also where extract -o work puts the main program.
  const std::string work = dir.File("work"), target = work + "/main.swf";
  const struct {
    const char* what;
    std::function<bool()> make;     // false when this user cannot
    std::string said, extractSaid;  // extractSaid empty: extract replaces it
    bool readable;                  // a package the rewrites read before they refuse
  } cases[] = {
      {"a character device", [&] { return mknod(target.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0; },
       "is a character device, not a regular file", "exists and is not a regular file", false},
      {"a FIFO", [&] { return mkfifo(target.c_str(), 0644) == 0; }, "is a FIFO, not a regular file",
       "exists and is not a regular file", false},
      {"a socket", [&] { return mknod(target.c_str(), S_IFSOCK | 0644, 0) == 0; }, "is a socket, not a regular file",
       "exists and is not a regular file", false},
      {"a folder", [&] { return mkdir(target.c_str(), 0755) == 0; }, "is a folder, not a regular file", "is a folder",
       false},
      {"a symbolic link", [&] { return symlink(named.c_str(), target.c_str()) == 0; }, "is a symbolic link",
       "is a symbolic link", true},
      {"a file with another hard link", [&] { return link(named.c_str(), target.c_str()) == 0; },
       "has 1 other hard link", "", true},
      // As root: a link that another user planted in a shared sticky
      // folder, pointing at root's file.
      {"a symbolic link planted by another user",
       [&] {
         return IsRoot() && chmod(work.c_str(), 01777) == 0 && symlink(named.c_str(), target.c_str()) == 0 &&
                lchown(target.c_str(), kOtherUser, kOtherGroup) == 0;
       },
       "is a symbolic link", "is a symbolic link", false},
  };
  for (const auto& c : cases) {
    fs::remove(target);
    if (!c.make()) {
      ASSERT_FALSE(IsRoot()) << c.what;
      std::cout << "[  SKIPPED ] " << c.what << ": making one needs root\n";
      continue;
    }
    const struct stat before = Lstat(target);
    std::vector<std::vector<std::string>> commands = {{"pack", "-o", target, "--main", main, "--force"},
                                                      {"upgrade", package, "-o", target, "--drop-duplicates"}};
    if (!c.extractSaid.empty()) commands.push_back({"extract", package, "-o", work, "--force"});
    if (c.readable) {
      for (const auto& rewrite : RewritesOf(target)) commands.push_back(rewrite);
    }
    for (const auto& args : commands) {
      SCOPED_TRACE(std::string(c.what) + ": " + args[0] + " " + args[1]);
      const std::string said = args[0] == "extract" ? " " + c.extractSaid : ": " + c.said;
      EXPECT_TRUE(Said(Vello(dir, args), 1, target + said));
      const struct stat after = Lstat(target);
      EXPECT_EQ(after.st_mode, before.st_mode);
      EXPECT_EQ(after.st_ino, before.st_ino);
      EXPECT_EQ(after.st_rdev, before.st_rdev);
      EXPECT_EQ(TempDir::ReadAll(named), Package());
      EXPECT_EQ(Entries(work), std::set<std::string>{"main.swf"});
    }
  }
}

TEST(Saving, ARewriteKeepsOwnerGroupAndModeWhereTheWriterMaySetThem) {
  if (!IsRoot()) GTEST_SKIP() << "giving files to other users needs root";
  TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);  // other users may reach the programs' output
  fs::create_directory(dir.path() / "work");
  const std::string work = dir.File("work");
  ASSERT_EQ(chown(work.c_str(), kOtherUser, kOtherGroup), 0);
  const std::string package = work + "/p.dat";
  const std::string main = dir.Write("main.swf", vellorun::Fws(64, 9, 1));
  ASSERT_EQ(chmod(main.c_str(), 0644), 0);

  const struct {
    const char* what;
    uid_t writer;             // who runs vello
    uid_t owner, ownerAfter;  // of the package before and after the run
    gid_t group, groupAfter;
    mode_t mode, modeAfter;
  } cases[] = {
      // Root gives the file back to its owner and group, set-group-ID kept.
      {"root rewrites another user's package", 0, kOtherUser, kOtherUser, kOtherGroup, kOtherGroup, 02640, 02640},
      {"root rewrites a package of root's group", 0, kOtherUser, kOtherUser, 0, 0, 0604, 0604},
      // Another user cannot keep root's group: their own group gets no
      // more than others had.
      {"a user rewrites a package of a group not theirs", kOtherUser, kOtherUser, kOtherUser, 0, kOtherGroup, 0664,
       0644},
  };
  for (const auto& c : cases) {
    std::vector<std::vector<std::string>> commands = RewritesOf(package);
    commands.push_back({"pack", "-o", package, "--main", main, "--force"});
    for (const auto& args : commands) {
      SCOPED_TRACE(std::string(c.what) + ": " + args[0]);
      dir.Write("work/p.dat", Package());
      ASSERT_EQ(chown(package.c_str(), c.owner, c.group), 0);
      ASSERT_EQ(chmod(package.c_str(), c.mode), 0);
      const auto r = c.writer == 0 ? Vello(dir, args) : VelloAs(c.writer, kOtherGroup, dir, args);
      ASSERT_EQ(r.exitCode, 0) << r.err;
      EXPECT_NE(TempDir::ReadAll(package), Package());
      const struct stat after = Lstat(package);
      EXPECT_EQ(after.st_uid, c.ownerAfter);
      EXPECT_EQ(after.st_gid, c.groupAfter);
      EXPECT_EQ(after.st_mode & 07777, c.modeAfter);
      EXPECT_EQ(Entries(work), std::set<std::string>{"p.dat"});
    }
  }
}

TEST(Saving, PathsAreTheBytesGivenAndOnlyWideOnesMustBeUtf8) {
  TempDir dir;
  const Bytes keep = Text("keep");
  const std::string cut = dir.Write("caf", keep);  // what a name cut at its bad byte would name
  const std::string cafe = dir.File("caf\xE9.dat"), other = dir.File("d\xFF.dat");
  const std::string main = dir.Write("main.swf", vellorun::Fws(64, 9, 1));
  const std::string badMain = dir.Write("m\xE9.swf", vellorun::Fws(64, 9, 1));
  dir.Write("m", keep);

  struct Case {
    std::vector<std::string> args;
    int exitCode;
    std::string written;  // the file that must now hold a package, or none
  } cases[] = {
      {{"pack", "-o", cafe, "--main", main}, 0, cafe},
      {{"info", cafe}, 0, ""},
      {{"upgrade", cafe, "-o", other}, 0, other},
      {{"set-swf-version", other, "--form", "0", "7"}, 0, other},
      {{"verify", other}, 0, ""},
      // The library opens inputs by Unicode name: refused before anything.
      {{"pack", "-o", dir.File("new.dat"), "--main", badMain}, 2, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + c.args[1]);
    const auto r = Vello(dir, c.args);
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
    if (!c.written.empty()) {
      EXPECT_EQ(vellorun::Info(dir, c.written, false)["version"], 14);
    }
  }
  EXPECT_EQ(TempDir::ReadAll(cut), keep);
  EXPECT_EQ(TempDir::ReadAll(dir.File("m")), keep);
  EXPECT_EQ(Entries(dir.path().string()), (std::set<std::string>{".stdout", ".stderr", "caf", "caf\xE9.dat",
                                                                 "d\xFF.dat", "m", "main.swf", "m\xE9.swf"}));
}

// A package of every older version with forms as old: the upgrade reads
// back what it wrote and finds it the same but for the versions.
TEST(Saving, OldPackagesWithFormsAsOldUpgradeKeepingTheirContent) {
  TempDir dir;
  for (int version = 1; version <= 13; ++version) {
    SCOPED_TRACE(version);
    const std::string package = dir.Write("old.dat", StoredFile(version, version).out);
    nlohmann::json before = vellorun::Info(dir, package, true);
    const vellorun::Result r = Vello(dir, {"upgrade", package, "--drop-duplicates"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    nlohmann::json after = vellorun::Info(dir, package, true);
    EXPECT_EQ(after["forms"][1]["version"], 14);
    for (nlohmann::json* d : {&before, &after}) {
      d->erase("version");
      for (nlohmann::json& form : (*d)["forms"]) form.erase("version");
    }
    EXPECT_EQ(before, after);
  }
}

TEST(Saving, AFileSizeLimitFailsTheSaveWithAReason) {
  TempDir dir;
  const Bytes original = StoredFile(11).out;
  const std::string package = dir.Write("p.dat", original);
  const std::string main = dir.Write("main.swf", vellorun::Fws(60000, 9, 1));
  const std::vector<std::string> commands[] = {{"upgrade", package, "--drop-duplicates"},
                                               {"pack", "-o", dir.File("limited.dat"), "--main", main}};
  for (const auto& args : commands) {
    SCOPED_TRACE(args[0]);
    // Room to read the inputs, not to write the package.
    EXPECT_TRUE(Said(Vello(dir, args, static_cast<long>(original.size()) / 2), 1, ": cannot write: File too large; "));
    EXPECT_EQ(TempDir::ReadAll(package), original);
    EXPECT_EQ(Entries(dir.path().string()), (std::set<std::string>{".stdout", ".stderr", "p.dat", "main.swf"}));
  }
}

// Sends the signal as soon as vello makes a file in the folder (its
// temporary file), while it is writing megabytes into it.
vellorun::Result SignalledWhileSaving(const TempDir& scratch, const std::string& folder,
                                      const std::vector<std::string>& args, int signal) {
  const int watch = inotify_init1(IN_CLOEXEC);
  EXPECT_GE(inotify_add_watch(watch, folder.c_str(), IN_CREATE), 0);
  const pid_t pid = vellorun::StartVello(scratch, args);
  pollfd ready = {watch, POLLIN, 0};
  const bool created = poll(&ready, 1, 30000) == 1;
  EXPECT_TRUE(created) << "vello made no file in " << folder;
  kill(pid, created ? signal : SIGKILL);
  close(watch);
  return vellorun::FinishVello(scratch, pid);
}

TEST(Saving, ASignalDuringASaveRemovesWhatItMade) {
  TempDir dir;
  fs::create_directory(dir.path() / "work");
  const std::string work = dir.File("work");
  // A package that takes a while to write: a files-map entry of 16 MiB.
  const Bytes big = recordbytes::Words(16, 16 << 20);
  const std::string bigFile = dir.Write("big.bin", big);
  const Bytes original = vellorun::PackageWith(vellorun::Fws(64, 9, 1), {"big"}, {}, big);
  const std::string package = work + "/p.dat";
  const std::string main = dir.Write("main.swf", vellorun::Fws(64, 9, 1));

  struct Case {
    std::vector<std::string> args;
    int signal;
  } cases[] = {{{"upgrade", package}, SIGTERM},
               {{"pack", "-o", work + "/new.dat", "--main", main, "--file", "big=" + bigFile}, SIGINT},
               // The files extract stages, and the folders it made.
               {{"extract", package, "-o", work + "/out/deep"}, SIGHUP}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0] + " " + strsignal(c.signal));
    vellorun::Result r;
    // A save may, rarely, finish before the signal lands: then try again.
    for (int attempt = 0; attempt < 3 && r.signal == 0; ++attempt) {
      dir.Write("work/p.dat", original);
      fs::remove(work + "/new.dat");
      r = SignalledWhileSaving(dir, work, c.args, c.signal);
    }
    EXPECT_EQ(r.signal, c.signal) << "exit " << r.exitCode << ": " << r.err;
    EXPECT_EQ(Entries(work), std::set<std::string>{"p.dat"});
    EXPECT_EQ(TempDir::ReadAll(package), original);
  }
}

}  // namespace
