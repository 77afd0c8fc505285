#include "system/AtomicFile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include "system/TempDir_test.h"

namespace {

namespace fs = std::filesystem;

// Something put at the target between Begin and Commit.
struct Swap {
  const char* what;
  bool targetExisted;  // at Begin
  void (*put)(const std::string& target, const TempDir& dir);
  const char* failure;
  bool mayReplace;
};

TEST(AtomicFileTest, WhatStandsAtTheTargetAtCommitIsCheckedAgain) {
  const Swap swaps[] = {
      {"a FIFO made meanwhile", false, [](const std::string& t, const TempDir&) { mkfifo(t.c_str(), 0600); },
       "is a FIFO, not a regular file", true},
      {"a symbolic link made meanwhile", false,
       [](const std::string& t, const TempDir& d) { fs::create_symlink(d.File("elsewhere"), t); },
       "is a symbolic link", true},
      {"the old file replaced by another", true,
       [](const std::string& t, const TempDir& d) { fs::rename(d.Write("other", {9}), t); },
       "was replaced by another file while being saved", true},
      {"a file made meanwhile, replacing not asked for", false,
       [](const std::string& t, const TempDir&) { std::fclose(std::fopen(t.c_str(), "wx")); },
       "was made by another while being saved", false},
  };
  for (const Swap& swap : swaps) {
    SCOPED_TRACE(swap.what);
    TempDir dir;
    const std::string target = dir.File("p.dat");
    if (swap.targetExisted) dir.Write("p.dat", {1, 2, 3});
    AtomicFile file(target);
    file.SetMayReplace(swap.mayReplace);
    ASSERT_TRUE(file.Begin());
    ASSERT_EQ(std::fputs("new", file.Handle()), 1);
    swap.put(target, dir);
    const fs::file_status put = fs::symlink_status(target);
    EXPECT_FALSE(file.Commit());
    EXPECT_NE(file.Failure().find(swap.failure), std::string::npos) << file.Failure();
    EXPECT_EQ(fs::symlink_status(target).type(), put.type()) << "what was put there stays";
    EXPECT_EQ(dir.EntryCount(), 1u) << "the temporary file is gone";
    if (!swap.mayReplace) {
      EXPECT_EQ(fs::file_size(target), 0u) << "the file made meanwhile keeps its content";
    }
  }
}

TEST(AtomicFileTest, PendingTemporaryFilesAreRemovedOnRequest) {
  TempDir dir;
  AtomicFile first(dir.File("a.dat")), second(dir.File("b.dat")), done(dir.File("c.dat"));
  ASSERT_TRUE(first.Begin() && second.Begin() && done.Begin());
  ASSERT_TRUE(done.Commit());
  EXPECT_EQ(dir.EntryCount(), 3u);
  AtomicFile::RemovePendingFiles();
  EXPECT_EQ(dir.EntryCount(), 1u) << "only the committed c.dat";
  EXPECT_TRUE(fs::exists(dir.File("c.dat")));
}

}  // namespace
