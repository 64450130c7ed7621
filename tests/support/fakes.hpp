#pragma once
// Recording fakes of the serial library and the window runtime, for driving the
// routines and the procedure without a scale or a display. Every call that
// matters is logged as text ("Func012(2,4660)", "message(Erro|...|stop)"), so a
// test compares whole call sequences.
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/serial_library.hpp"
#include "platform/window_runtime.hpp"

namespace quorvel::test {

class ScriptedSerial : public SerialLibrary {
 public:
  // Results of the set-up calls, taken in order; 0 once the script runs out.
  std::deque<std::int32_t> claimResults, setupResults;
  // Raw results of Func041 in order; -1 once they run out.
  std::deque<std::int32_t> reads;
  // Result of Func062 when set; else the number of scripted reads.
  std::optional<std::int32_t> waitingResult;
  std::vector<std::string> calls;  // set-up and release calls, in order
  // When set, those calls go here too, so that they fall in one sequence with
  // another fake's record (a window's log, with its message boxes).
  std::vector<std::string>* sequence = nullptr;
  int queries = 0;
  int byteReads = 0;

  void feed(std::string_view bytes) {
    for (const char c : bytes) reads.push_back(static_cast<unsigned char>(c));
  }

  std::int32_t Func012(std::int32_t port, std::int32_t window) override {
    record("Func012(" + std::to_string(port) + "," + std::to_string(window) + ")");
    return take(claimResults);
  }
  std::int32_t Func001(std::int32_t port, std::int32_t speed, std::int32_t parity,
                       std::int32_t dataBits, std::int32_t stopBits) override {
    record("Func001(" + std::to_string(port) + "," + std::to_string(speed) + "," +
           std::to_string(parity) + "," + std::to_string(dataBits) + "," +
           std::to_string(stopBits) + ")");
    return take(setupResults);
  }
  std::int32_t Func084(std::int32_t port, std::int32_t window) override {
    record("Func084(" + std::to_string(port) + "," + std::to_string(window) + ")");
    return 0;
  }
  std::int32_t Func062(std::int32_t) override {
    ++queries;
    return waitingResult ? *waitingResult : static_cast<std::int32_t>(reads.size());
  }
  std::int32_t Func041(std::int32_t) override {
    ++byteReads;
    if (reads.empty()) return -1;
    const std::int32_t r = reads.front();
    reads.pop_front();
    return r;
  }

 private:
  void record(const std::string& call) {
    calls.push_back(call);
    if (sequence != nullptr) sequence->push_back(call);
  }
  static std::int32_t take(std::deque<std::int32_t>& q) {
    if (q.empty()) return 0;
    const std::int32_t r = q.front();
    q.pop_front();
    return r;
  }
};

struct ScriptedEvent {
  int event;
  int field = 0;
  int key = 0;
};

class RecordingWindow : public WindowRuntime {
 public:
  static constexpr std::int32_t kHandle = 4660;

  std::vector<std::string> log;
  std::deque<ScriptedEvent> script;  // events that accept() delivers in order
  std::function<void()> onDisplay;   // runs at every display(), to look at the state then
  std::function<void(const ScriptedEvent&)> beforeEvent;  // runs as each event is delivered
  int displays = 0;

  void open() override { log.push_back("open"); }
  void close() override { log.push_back("close"); }
  bool accept() override {
    if (current_.event == event::CloseWindow) return false;
    if (script.empty())
      current_ = {event::CloseWindow};  // an exhausted script closes
    else {
      current_ = script.front();
      script.pop_front();
    }
    if (beforeEvent) beforeEvent(current_);
    return true;
  }
  int event() const override { return current_.event; }
  int field() const override { return current_.field; }
  int keyCode() const override { return current_.key; }
  void enable(int control) override { log.push_back("enable(" + std::to_string(control) + ")"); }
  void select(int control) override { log.push_back("select(" + std::to_string(control) + ")"); }
  void display() override {
    ++displays;
    log.push_back("display");
    if (onDisplay) onDisplay();
  }
  void display(int control) override { log.push_back("display(" + std::to_string(control) + ")"); }
  void beep() override { log.push_back("beep"); }
  void post(int e) override {
    log.push_back("post(" + std::to_string(e) + ")");
    script.push_front({e});
  }
  std::int32_t nativeHandle() const override { return kHandle; }
  void message(std::string_view text, std::string_view caption, MessageIcon icon) override {
    log.push_back("message(" + std::string(caption) + "|" + std::string(text) + "|" +
                  (icon == MessageIcon::Stop ? "stop" : "exclamation") + ")");
  }

 private:
  ScriptedEvent current_{0};
};

}  // namespace quorvel::test
