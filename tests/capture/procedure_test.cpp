#include "capture/procedure.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "capture/main_window.hpp"
#include "tests/support/fakes.hpp"
#include "tests/support/system.hpp"
#include "tests/support/temp_dir.hpp"

namespace quorvel {
namespace {

using test::RecordingWindow;
using test::ScriptedEvent;
using test::ScriptedSerial;
using Strings = std::vector<std::string>;

// Hands the procedure a window whose log outlives it.
class ForwardingWindow : public WindowRuntime {
 public:
  explicit ForwardingWindow(RecordingWindow& r) : r_(r) {}
  void open() override { r_.open(); }
  void close() override { r_.close(); }
  bool accept() override { return r_.accept(); }
  int event() const override { return r_.event(); }
  int field() const override { return r_.field(); }
  int keyCode() const override { return r_.keyCode(); }
  void enable(int c) override { r_.enable(c); }
  void select(int c) override { r_.select(c); }
  void display() override { r_.display(); }
  void display(int c) override { r_.display(c); }
  void beep() override { r_.beep(); }
  void post(int e) override { r_.post(e); }
  std::int32_t nativeHandle() const override { return r_.nativeHandle(); }
  void message(std::string_view t, std::string_view c, MessageIcon i) override {
    r_.message(t, c, i);
  }

 private:
  RecordingWindow& r_;
};

class Factory : public WindowFactory {
 public:
  RecordingWindow window;
  std::vector<FieldRef> fields;
  const WindowDefinition* definition = nullptr;

  std::unique_ptr<WindowRuntime> build(const WindowDefinition& d,
                                       std::span<const FieldRef> f) override {
    definition = &d;
    fields.assign(f.begin(), f.end());
    return std::make_unique<ForwardingWindow>(window);
  }
  // The bound fields, valid while the procedure runs.
  Text& text(std::size_t i) const { return *std::get<Text*>(fields.at(i)); }
  std::uint32_t& tam() const { return *std::get<std::uint32_t*>(fields.at(3)); }
  Decimal& peso() const { return *std::get<Decimal*>(fields.at(2)); }
};

const std::string kSection = "Configura\xE7\xE3o";

struct Harness {
  test::TempDir config;
  test::TempDir handOff;
  test::ScopedEnv env{test::kConfigHomeVariable, config.path().string()};
  ScriptedSerial serial;
  Factory windows;
  Services services{serial, windows, [](Text& name, std::uint32_t& size) {
                      name = "BALANCA-07";
                      size = 10;
                      return true;
                    }};

  std::filesystem::path configFile() const { return config / "quorvel" / "quorvel.ini"; }
  void configure(std::string_view brand, int port, int speed = 9600) {
    std::filesystem::create_directories(configFile().parent_path());
    test::writeFile(configFile(), "[" + kSection + "]\r\nPasta=" + handOff.path().string() +
                                      "\r\nBalan\xE7"
                                      "a=" +
                                      std::string(brand) + "\r\nPorta=" + std::to_string(port) +
                                      "\r\nVelocidade=" + std::to_string(speed) + "\r\n");
  }
  void run(std::initializer_list<ScriptedEvent> events) {
    windows.window.script.assign(events.begin(), events.end());
    ASSERT_TRUE(MAIN(services));
  }
  const Strings& log() const { return windows.window.log; }
};

TEST(Procedure, BuildsTheMainWindowWithNineFieldsInControlOrder) {
  Harness h;
  h.run({});
  ASSERT_NE(h.windows.definition, nullptr);
  EXPECT_EQ(h.windows.definition, findWindowDefinition(kProgramKey, kMainWindowName));
  ASSERT_EQ(h.windows.fields.size(), 9u);
  EXPECT_TRUE(std::holds_alternative<Decimal*>(h.windows.fields[2]));
  EXPECT_TRUE(std::holds_alternative<std::uint8_t*>(h.windows.fields[6]));
  EXPECT_EQ(h.log(), (Strings{"open", "close"}));
}

struct EventCase {
  const char* name;
  ScriptedEvent event;
  Strings actions;
};

void PrintTo(const EventCase& c, std::ostream* os) {
  *os << c.name;
}

class EventTable : public testing::TestWithParam<EventCase> {};

TEST_P(EventTable, LeadsToItsAction) {
  Harness h;  // no configuration: no port, so a timer tick does nothing
  h.run({GetParam().event});
  Strings expected{"open"};
  expected.insert(expected.end(), GetParam().actions.begin(), GetParam().actions.end());
  expected.emplace_back("close");
  EXPECT_EQ(h.log(), expected);
  EXPECT_TRUE(h.serial.calls.empty());
  EXPECT_EQ(h.serial.queries, 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, EventTable,
    testing::Values(
        EventCase{"CtrlKEnablesConfiguration", {event::AlertKey, 0, key::CtrlK}, {"enable(11)"}},
        EventCase{"OtherAlertKey", {event::AlertKey, 0, key::Ctrl | 'L'}, {}},
        EventCase{"RedisplayRequest", {event::Redisplay, 5}, {"display"}},
        EventCase{"FirstGainFocusInitialises", {event::GainFocus}, {"display"}},
        EventCase{"TimerWithPortClosed", {event::Timer}, {}},
        EventCase{"RejectedInput",
                  {event::Rejected, control::V_PORTA},
                  {"beep", "display(17)", "select(17)"}},
        EventCase{"SheetAccepted", {event::Accepted, control::SHEET1}, {"display"}},
        EventCase{"SheetNewSelection", {event::NewSelection, control::SHEET1}, {"display"}},
        EventCase{"SheetTabChanging", {event::TabChanging, control::SHEET1}, {"display"}},
        EventCase{"SheetSelected", {event::Selected, control::SHEET1}, {"display"}},
        EventCase{"OtherControlSelected", {event::Selected, control::V_NOME_CPD}, {}},
        EventCase{"CloseButton", {event::Accepted, control::CLOSE}, {"post(513)"}},
        EventCase{"CloseButtonOtherEvent", {event::Selected, control::CLOSE}, {}},
        EventCase{"SaveButtonOtherEvent", {event::Selected, control::GRAVAR}, {}},
        EventCase{"UnknownEvent", {999, control::GRAVAR}, {}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(Procedure, FirstDisplayHappensOnceWhicheverEventComesFirst) {
  Harness focusFirst;
  focusFirst.run({{event::GainFocus}, {event::OpenWindow}, {event::GainFocus}});
  EXPECT_EQ(focusFirst.log(),
            (Strings{"open", "display", "select(3)", "display", "display", "close"}));

  Harness openFirst;
  openFirst.run({{event::OpenWindow}, {event::GainFocus}});
  EXPECT_EQ(openFirst.log(),
            (Strings{"open", "display", "select(3)", "display", "display", "close"}));
}

TEST(Procedure, OpenSequenceReadsNameAndConfigurationThenOpensThePort) {
  Harness h;
  h.configure("TOL", 2, 4800);
  Strings seenAtDisplay;
  h.windows.window.onDisplay = [&] {
    seenAtDisplay.push_back(std::string(h.windows.text(0).view()) + "/" +
                            std::to_string(h.windows.tam()) + "/" +
                            std::string(h.windows.text(5).view()));
  };
  h.run({{event::OpenWindow}});
  EXPECT_EQ(seenAtDisplay, (Strings{"/0/", "BALANCA-07/10/TOL"}));
  EXPECT_EQ(h.serial.calls,
            (Strings{"Func012(1,4660)", "Func001(1,2400,0,8,1)", "Func001(1,4800,0,8,1)"}));
  EXPECT_EQ(h.log(), (Strings{"open", "display", "select(3)", "display", "close"}));
}

TEST(Procedure, NameQueryGetsTwentyAsItsSize) {
  Harness h;
  std::uint32_t sizeIn = 0;
  h.services.GetComputerNameA = [&](Text&, std::uint32_t& size) {
    sizeIn = size;
    return false;
  };
  h.run({{event::OpenWindow}});
  EXPECT_EQ(sizeIn, 20u);
}

TEST(Procedure, TimerCapturesIntoTheHandOffFileAfterAnOpen) {
  Harness h;
  h.configure("TOL", 1);
  h.serial.feed("001500\r");
  h.run({{event::OpenWindow}, {event::Timer}});
  EXPECT_EQ(test::readFile(h.handOff / "quorvel.txt"),
            "[Pesagem.BALANCA-07]\r\nAtivo=1\r\nPeso=1500\r\n");
}

TEST(Procedure, SaveAfterOpenWritesReleasesAndStopsTheCapture) {
  Harness h;
  h.configure("TOL", 3);
  int queriesAtSave = -1;
  h.windows.window.beforeEvent = [&](const ScriptedEvent& e) {
    if (e.field == control::GRAVAR) queriesAtSave = h.serial.queries;
  };
  h.run({{event::OpenWindow},
         {event::Timer},
         {event::AlertKey, 0, key::CtrlK},
         {event::Accepted, control::GRAVAR},
         {event::Timer},
         {event::Timer}});
  EXPECT_EQ(h.serial.calls.back(), "Func084(2,4660)");
  EXPECT_EQ(queriesAtSave, 1);
  EXPECT_EQ(h.serial.queries, 1);  // later ticks read nothing
  const std::string saved = test::readFile(h.configFile());
  EXPECT_NE(saved.find("Porta=3\r\n"), std::string::npos);
  EXPECT_NE(saved.find("Divisor=10\r\n"), std::string::npos);
  EXPECT_EQ(std::count(h.serial.calls.begin(), h.serial.calls.end(), "Func012(2,4660)"), 1);
}

TEST(Procedure, SaveAfterAFailedOpenWritesAndMakesNoSerialCall) {
  Harness h;
  h.configure("TOL", 1);
  h.serial.claimResults = {16};
  h.run({{event::OpenWindow}, {event::Accepted, control::GRAVAR}});
  EXPECT_EQ(h.serial.calls, Strings{"Func012(0,4660)"});
  EXPECT_EQ(h.log()[4], "message(Erro|Erro (16) ao iniciar  porta COM1: (SETPORT).|stop)");
  EXPECT_NE(test::readFile(h.configFile()).find("Divisor=10\r\n"), std::string::npos);
}

TEST(Procedure, CloseWritesNothingAndReleasesNothing) {
  Harness h;
  h.configure("Precision", 1);
  const std::string before = test::readFile(h.configFile());
  h.run({{event::OpenWindow}, {event::Accepted, control::CLOSE}, {event::Timer}});
  EXPECT_EQ(h.serial.calls, (Strings{"Func012(0,4660)", "Func001(0,9600,0,7,1)"}));
  EXPECT_EQ(test::readFile(h.configFile()), before);
  EXPECT_EQ(h.serial.queries, 0);  // the loop ended before the queued timer tick
  EXPECT_EQ(h.log().back(), "close");
}

TEST(Procedure, NoPortConfiguredOpensAndShowsNothing) {
  Harness h;
  h.run({{event::OpenWindow}, {event::Timer}});
  EXPECT_TRUE(h.serial.calls.empty());
  EXPECT_EQ(h.log(), (Strings{"open", "display", "select(3)", "display", "close"}));
  EXPECT_FALSE(std::filesystem::exists(h.configFile()));
}

}  // namespace
}  // namespace quorvel
