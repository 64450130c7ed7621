#include <gtest/gtest.h>

#include "platform/host.hpp"
#include "shell/program.hpp"

namespace quorvel {
namespace {

TEST(ComputerName, IsTheNetworkNameOfTheHost) {
  EXPECT_EQ(networkName("pesagem-03.fabrica.local"), "PESAGEM-03");
  EXPECT_EQ(networkName("a-very-long-workstation-name"), "A-VERY-LONG-WOR");
  EXPECT_EQ(networkName("Ws1"), "WS1");
  EXPECT_EQ(networkName(""), "");
}

TEST(ComputerName, QueryFillsOnlyWhenTheNameFitsTheSize) {
  struct Case {
    const char* host;
    std::uint32_t sizeIn;
    bool ok;
    const char* name;
    std::uint32_t sizeOut;
  };
  for (const Case& c : {Case{"WS1", 20, true, "WS1", 3},
                        Case{"NINETEEN-CHARACTER", 20, true, "NINETEEN-CHARACTER", 18},
                        Case{"NINETEEN-CHARACTERS", 20, true, "NINETEEN-CHARACTERS", 19},
                        Case{"TWENTY-CHARACTERS-X1", 20, false, "", 21},
                        Case{"WS1", 3, false, "", 4}}) {
    Text name(51);
    name = "previous";
    std::uint32_t size = c.sizeIn;
    EXPECT_EQ(computerNameInto(c.host, name, size), c.ok) << c.host;
    EXPECT_EQ(name.view(), c.name);
    EXPECT_EQ(size, c.sizeOut);
  }
  Text name(51);
  std::uint32_t size = 20;
  EXPECT_TRUE(GetComputerNameA(name, size));  // networkName() is at most 15 characters
  EXPECT_EQ(size, name.size());
}

class RecordingDesktop : public DesktopSettings {
 public:
  explicit RecordingDesktop(std::int32_t setting) : setting_(setting) {}
  std::vector<std::string> calls;
  std::int32_t SystemParametersInfoA(std::uint32_t action, std::uint32_t param, void* value,
                                     std::uint32_t winIni) override {
    calls.push_back(std::to_string(action) + "," + std::to_string(param) + "," +
                    std::to_string(winIni));
    if (action == SPI_GETDRAGFULLWINDOWS) *static_cast<std::int32_t*>(value) = setting_;
    if (action == SPI_SETDRAGFULLWINDOWS) setting_ = static_cast<std::int32_t>(param);
    return 1;
  }
  std::int32_t setting_;
};

TEST(ProgramBody, SwitchesTheDragSettingOffAroundTheProcedureOnlyIfItWasOn) {
  struct Case {
    std::int32_t atStart;
    std::int32_t changedMeanwhile;  // -1: nobody changes it
    std::vector<std::string> calls;
    std::int32_t duringBody, atEnd;
  };
  for (const Case& c :
       {Case{1, -1, {"38,0,0", "37,0,3", "37,1,3"}, 0, 1}, Case{0, -1, {"38,0,0"}, 0, 0},
        Case{1, 0, {"38,0,0", "37,0,3", "37,1,3"}, 0, 1}, Case{0, 1, {"38,0,0"}, 0, 1},
        Case{2, -1, {"38,0,0"}, 2, 2}}) {
    RecordingDesktop desktop(c.atStart);
    std::int32_t during = -1;
    int bodies = 0;
    const DragSettings d = runProgramBody(desktop, [&] {
      ++bodies;
      during = desktop.setting_;
      if (c.changedMeanwhile >= 0) desktop.setting_ = c.changedMeanwhile;
    });
    EXPECT_EQ(bodies, 1);
    EXPECT_EQ(desktop.calls, c.calls);
    EXPECT_EQ(during, c.duringBody);
    EXPECT_EQ(desktop.setting_, c.atEnd);
    EXPECT_EQ(d.LCURRENTFDSETTING, c.atStart);
    EXPECT_EQ(d.LADJFDSETTING, 0);
  }
  NoDesktopSettings none;
  EXPECT_EQ(runProgramBody(none, [] {}).LCURRENTFDSETTING, 0);
}

}  // namespace
}  // namespace quorvel
