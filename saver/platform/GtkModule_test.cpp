#include "saver/platform/GtkModule.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// Installed, the module lies under the prefix's library folder, whatever
// that is called on this system; in the build tree, beside the program;
// and never a bare name, which dlopen would look for along the library
// path.
TEST(GtkModuleTest, FoundFromWhereTheProgramLies) {
  const std::string installed = GtkModulePathFor("/opt/saver/bin");
  EXPECT_EQ(installed.rfind("/opt/saver/", 0), 0u) << installed;
  EXPECT_NE(installed.find("/lumetta/modules/lumetta-gtk.so"), std::string::npos) << installed;
  EXPECT_EQ(installed.find("/bin/"), std::string::npos) << installed;
  EXPECT_EQ(installed.find(".."), std::string::npos) << installed;

  EXPECT_EQ(GtkModulePathFor("/home/me/vello/build/default/saver"),
            "/home/me/vello/build/default/saver/lumetta-gtk.so");
  EXPECT_EQ(GtkModulePathFor(""), "");
}

}  // namespace
