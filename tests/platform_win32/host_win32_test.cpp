// The computer name and the drag setting on the real Win32 of Wine.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/host.hpp"
#include "shell/program.hpp"
#include "tests/platform_win32/desktop_probe.hpp"

namespace quorvel::test {
namespace {

TEST(Win32ComputerName, IsTheNameThatTheSystemGivesItsPrograms) {
  const char* expected = std::getenv("COMPUTERNAME");
  ASSERT_NE(expected, nullptr);
  const std::string computer(expected);
  ASSERT_GE(computer.size(), 2u);

  Text name(51);
  std::uint32_t size = 20;
  EXPECT_TRUE(GetComputerNameA(name, size));
  EXPECT_EQ(name.view(), computer);
  EXPECT_EQ(size, computer.size());

  // Too small a size: nothing copied, and the room needed, terminating zero included.
  Text small(51);
  small = "previous";
  size = static_cast<std::uint32_t>(computer.size());
  EXPECT_FALSE(GetComputerNameA(small, size));
  EXPECT_EQ(small.view(), "");
  EXPECT_EQ(size, computer.size() + 1);
}

// The real settings, with every call recorded.
class SpyDesktop : public DesktopSettings {
 public:
  std::vector<std::string> calls;
  std::int32_t SystemParametersInfoA(std::uint32_t action, std::uint32_t param, void* value,
                                     std::uint32_t winIni) override {
    calls.push_back(std::to_string(action) + "," + std::to_string(param) + "," +
                    std::to_string(winIni));
    return real_.SystemParametersInfoA(action, param, value, winIni);
  }

 private:
  SystemDesktopSettings real_;
};

class Win32DragSetting : public ::testing::Test {
 protected:
  void SetUp() override {
    original_ = dragSettingSeenByAnotherProcess();
    ASSERT_TRUE(original_ == 0 || original_ == 1) << original_;
  }
  void TearDown() override { setDragSetting(original_); }
  int original_ = -1;
};

TEST_F(Win32DragSetting, IsOffWhileTheProcedureRunsIfItWasOnAndOnAgainAfterwards) {
  ASSERT_TRUE(setDragSetting(1));
  SpyDesktop desktop;
  int during = -1;
  const DragSettings d =
      runProgramBody(desktop, [&] { during = dragSettingSeenByAnotherProcess(); });
  EXPECT_EQ(during, 0);
  EXPECT_EQ(dragSettingSeenByAnotherProcess(), 1);
  EXPECT_EQ(desktop.calls, (std::vector<std::string>{"38,0,0", "37,0,3", "37,1,3"}));
  EXPECT_EQ(d.LCURRENTFDSETTING, 1);
  EXPECT_EQ(d.LADJFDSETTING, 0);
}

TEST_F(Win32DragSetting, IsNeverTouchedIfItWasOff) {
  ASSERT_TRUE(setDragSetting(0));
  SpyDesktop desktop;
  int during = -1;
  const DragSettings d =
      runProgramBody(desktop, [&] { during = dragSettingSeenByAnotherProcess(); });
  EXPECT_EQ(during, 0);
  EXPECT_EQ(dragSettingSeenByAnotherProcess(), 0);
  EXPECT_EQ(desktop.calls, std::vector<std::string>{"38,0,0"});
  EXPECT_EQ(d.LCURRENTFDSETTING, 0);
}

}  // namespace
}  // namespace quorvel::test
