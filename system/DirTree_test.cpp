// CopyDir, DeleteDir and FindFiles against `cp -r`, `rm -r` and `find`
// run on identical scratch trees whose names hold every character a shell
// would act on, some of them commands that would leave a file behind.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "system/DirTree.h"
#include "system/Peer_test.h"
#include "system/SysStringHelper.h"
#include "system/System.h"
#include "system/TempDir_test.h"

namespace fs = std::filesystem;

namespace {

CSystem& System() { return *CSystem::GetSingleton(); }

std::wstring Wide(const fs::path& path) {
  return CSysStringHelper::GetSingleton().FromUTF8(path.string());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

// Names a shell would split, expand, substitute or take as an option.
const std::vector<std::string> kNastyNames = {
    "with space.swf", "quote\".swf", "dollar$HOME.swf", "back`tick`.swf",
    "new\nline.swf",  "-leading.swf", "back\\slash.txt", "$(touch PWNED).swf"};

// A tree with nested and empty folders, links (relative, absolute, into a
// loop and dangling) and the nasty names, at root (created).
void MakeTree(const fs::path& root, const fs::path& outside) {
  for (const char* folder : {"nested/deeper", "empty", "dir.swf"})
    fs::create_directories(root / folder);
  std::string binary;
  for (int i = 0; i < 300; ++i) binary.push_back(static_cast<char>(i * 7));
  WriteFile(root / "nested" / "deeper" / "data.swf", binary);
  WriteFile(root / "nested" / "UPPER.SWF", "upper");
  WriteFile(root / "nested" / ".swf", "dot only");
  WriteFile(root / "nested" / "a.b.swf", "two dots");
  WriteFile(root / "noext", "");
  for (const std::string& name : kNastyNames) WriteFile(root / name, "content of " + name);
  fs::create_symlink("nested/deeper", root / "link");
  fs::create_symlink(".", root / "nested" / "loop.swf");
  fs::create_symlink("missing", root / "dangling");
  fs::create_symlink(outside, root / "outside-link");
}

// Two scratch folders built alike: one for the code, one for the peer.
struct Twin {
  TempDir mine, peer;
  void Build(const std::string& source, bool existingDestination) {
    for (const TempDir* d : {&mine, &peer}) {
      fs::create_directories(d->path() / "outside");
      WriteFile(d->path() / "outside" / "keep.txt", "must survive");
      MakeTree(d->path() / source, d->path() / "outside");
      if (existingDestination) {
        fs::create_directories(d->path() / "dest");
        WriteFile(d->path() / "dest" / "already.txt", "there before");
      }
    }
  }
};

const std::vector<std::string> kSourceNames = {"tree", "-lead ing", "q\"u$o`te\nx",
                                               "a`touch PWNED`b", "$(touch PWNED)"};

// Runs the call in the code's own scratch tree, where a `touch PWNED` run
// by a shell would land and make the tree differ from the peer's.
template <typename Call>
void InFolder(const fs::path& folder, Call call) {
  const fs::path cwd = fs::current_path();
  fs::current_path(folder);
  call();
  fs::current_path(cwd);
}

// The second round copies over the first copy: files are overwritten and
// folders merged, as cp does.
TEST(DirTreeTest, CopyDirMatchesCpR) {
  for (const std::string& source : kSourceNames) {
    for (bool existing : {false, true}) {
      SCOPED_TRACE(source + (existing ? " into an existing folder" : " to a new name"));
      Twin twin;
      twin.Build(source, existing);
      for (int round = 1; round <= 2; ++round) {
        InFolder(twin.mine.path(), [&] {
          System().CopyDir(Wide(twin.mine.path() / source), Wide(twin.mine.path() / "dest"));
        });
        ASSERT_EQ(0, RunPeer({"cp", "-r", "--", (twin.peer.path() / source).string(),
                              (twin.peer.path() / "dest").string()}));
        EXPECT_EQ(Snapshot(twin.peer.path()), Snapshot(twin.mine.path())) << "round " << round;
      }
    }
  }
  EXPECT_FALSE(fs::exists(fs::temp_directory_path() / "PWNED"));
}

TEST(DirTreeTest, CopyDirNeverCopiesAFolderIntoItself) {
  TempDir scratch;
  MakeTree(scratch.path() / "tree", scratch.path());
  const auto before = Snapshot(scratch.path());
  for (const char* into : {"tree", "tree/nested", "tree/link"})
    System().CopyDir(Wide(scratch.path() / "tree"), Wide(scratch.path() / into));
  EXPECT_EQ(before, Snapshot(scratch.path()));
}

TEST(DirTreeTest, DeleteDirMatchesRmR) {
  for (const std::string& source : kSourceNames) {
    SCOPED_TRACE(source);
    Twin twin;
    twin.Build(source, true);
    InFolder(twin.mine.path(), [&] { System().DeleteDir(Wide(twin.mine.path() / source)); });
    ASSERT_EQ(0, RunPeer({"rm", "-r", "--", (twin.peer.path() / source).string()}));
    const auto mine = Snapshot(twin.mine.path());
    EXPECT_EQ(Snapshot(twin.peer.path()), mine);
    EXPECT_EQ("file:must survive", mine.at("outside/keep.txt"));  // the link was not followed
  }
}

TEST(DirTreeTest, DeleteDirRefusesWhatRmRefuses) {
  TempDir scratch;
  MakeTree(scratch.path() / "tree", scratch.path() / "tree");
  const auto before = Snapshot(scratch.path());
  for (const char* tail : {"/tree/.", "/tree/nested/..", "/tree/missing"}) {
    System().DeleteDir(Wide(scratch.path().string() + tail));
    EXPECT_EQ(before, Snapshot(scratch.path())) << tail;
  }
}

// A folder swapped for a link to somewhere else just before it is listed:
// the removal goes on in the folder it had opened, and nothing outside the
// tree is touched.
TEST(DirTreeTest, DeleteDirFollowsNoLinkSwappedInWhileItRuns) {
  TempDir scratch;
  const fs::path tree = scratch.path() / "tree", sub = tree / "sub", outside = scratch.path() / "outside";
  fs::create_directories(sub);
  fs::create_directories(outside);
  WriteFile(sub / "file0", "inside");
  WriteFile(outside / "file1", "must survive");
  SetRemoveTreeListingHook([&](const std::string& folder) {
    if (folder != sub.string()) return;
    fs::rename(sub, tree / "moved");
    fs::create_directory_symlink(outside, sub);
  });
  System().DeleteDir(Wide(tree));
  SetRemoveTreeListingHook(nullptr);
  EXPECT_TRUE(fs::exists(outside / "file1"));
  EXPECT_TRUE(fs::is_empty(tree / "moved")) << "the folder it had opened was emptied";
  EXPECT_TRUE(fs::is_symlink(sub)) << "the link is not a folder to remove";
}

// Deeper than the descriptors the process may hold: removed all the same,
// and the result says whether the path is gone.
TEST(DirTreeTest, RemoveTreeRemovesTreesDeeperThanTheDescriptorLimitAndTellsTheResult) {
  TempDir scratch;
  const fs::path tree = scratch.path() / "tree";
  fs::path deep = tree;
  for (int depth = 0; depth < 300; ++depth, deep /= "d") {
    fs::create_directory(deep);
    WriteFile(deep / "f", "x");
  }
  rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &old), 0);
  rlimit few = old;
  few.rlim_cur = 64;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &few), 0);
  const bool removed = RemoveTree(tree.string());
  setrlimit(RLIMIT_NOFILE, &old);
  EXPECT_TRUE(removed);
  EXPECT_FALSE(fs::exists(tree));
  for (const fs::path& refused : {tree, scratch.path() / "."}) EXPECT_FALSE(RemoveTree(refused.string())) << refused;
}

std::vector<std::string> FindPeer(const TempDir& scratch, const fs::path& root,
                                  const std::vector<std::string>& tests) {
  const std::string out = scratch.File("find.out");
  std::vector<std::string> argv = {"find", root.string(), "-mindepth", "1"};
  argv.insert(argv.end(), tests.begin(), tests.end());
  argv.push_back("-print0");
  EXPECT_EQ(0, RunPeer(argv, out));
  std::vector<std::string> names;
  std::ifstream in(out, std::ios::binary);
  for (std::string line; std::getline(in, line, '\0');)
    names.push_back(line.substr(root.string().size() + 1));  // made relative
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> Narrowed(const std::vector<std::wstring>& list) {
  std::vector<std::string> names;
  for (const std::wstring& w : list) names.push_back(CSysStringHelper::GetSingleton().ToUTF8(w));
  std::sort(names.begin(), names.end());
  return names;
}

// FindFiles by extension, and GetFileList by the patterns it takes, name
// what find names.
TEST(DirTreeTest, FindFilesAndGetFileListMatchFindByName) {
  TempDir scratch;
  const fs::path root = scratch.path() / "root";
  MakeTree(root, scratch.path());
  for (const std::string ext : {"swf", "SWF", "txt", "missing"}) {
    SCOPED_TRACE(ext);
    std::vector<std::wstring> list;
    const bool found = CDirEnumerator::GetSingleton()->FindFiles(Wide(root), Wide(ext), list);
    const std::vector<std::string> expected = FindPeer(scratch, root, {"-name", "*." + ext});
    EXPECT_EQ(expected, Narrowed(list));
    EXPECT_EQ(!expected.empty(), found);
  }
  const std::vector<std::string> swf = FindPeer(scratch, root, {"-name", "*.swf"});
  ASSERT_GE(swf.size(), 10u);
  const std::pair<std::string, std::vector<std::string>> patterns[] = {
      {"/*.swf", swf}, {"/swf", swf}, {"/*", FindPeer(scratch, root, {})}};
  for (const auto& [pattern, expected] : patterns) {
    std::vector<std::wstring> list;
    EXPECT_TRUE(System().GetFileList(Wide(root.string() + pattern), list));
    EXPECT_EQ(expected, Narrowed(list)) << pattern;
  }
  // Entries already in the list count and stay.
  std::vector<std::wstring> kept = {L"earlier"};
  EXPECT_TRUE(System().GetFileList(Wide(root.string() + "/*.none"), kept));
  EXPECT_EQ(std::vector<std::wstring>{L"earlier"}, kept);
}

}  // namespace
