// quorel.exe's switches: what a deployment tool's command line turns into.
#include "app/switches.h"

#include <gtest/gtest.h>

namespace quorel {
namespace {

struct SwitchCase {
  const char* line;
  bool silent, force, reboot, help;
  const char* logPath;
  const char* error;
};

TEST(Switches, Table) {
  const SwitchCase cases[] = {
      {"", false, false, false, false, "", ""},
      {"/S", true, false, false, false, "", ""},
      {"-quiet /FORCE -Reboot", true, true, true, false, "", ""},
      {"/s /log=C:\\q.log", true, false, false, false, "C:\\q.log", ""},
      {"\"/log=C:\\My logs\\q.log\" /S", true, false, false, false, "C:\\My logs\\q.log", ""},
      {"/LOG=\"C:\\My logs\\q.log\"", false, false, false, false, "C:\\My logs\\q.log", ""},
      {"/?", false, false, false, true, "", ""},
      {"/log= /S", true, false, false, false, "", "/log="},  // a log needs its path
      {"/S S /silent", true, false, false, false, "", "S"},  // the first one not understood
      {"/", false, false, false, false, "", "/"},
  };
  for (const SwitchCase& c : cases) {
    SCOPED_TRACE(c.line);
    const Switches got = ParseSwitches(c.line);
    EXPECT_EQ(got.silent, c.silent);
    EXPECT_EQ(got.force, c.force);
    EXPECT_EQ(got.reboot, c.reboot);
    EXPECT_EQ(got.help, c.help);
    EXPECT_EQ(got.logPath, c.logPath);
    EXPECT_EQ(got.error, c.error);
    EXPECT_EQ(got.any, *c.line != '\0');
  }
}

}  // namespace
}  // namespace quorel
