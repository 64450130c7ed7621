// The real Win32 window, built from the main window's definition, driven with
// real input (SendInput) under Wine.
#include <gtest/gtest.h>
#include <windows.h>
// <commctrl.h> needs <windows.h> before it.
#include <commctrl.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "capture/main_window.hpp"
#include "capture/state/state.hpp"
#include "platform/window/win32_window.hpp"
#include "tests/support/main_window_layout.hpp"
#include "tests/support/window_event.hpp"

namespace quorvel {
namespace {

namespace layout = main_window_layout;

Win32Window* gWindow = nullptr;  // the window that a test timer posts to

void CALLBACK postSentinel(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (gWindow != nullptr) gWindow->post(kSentinel);
}

std::wstring text(HWND hwnd) {
  wchar_t buffer[512] = {};
  GetWindowTextW(hwnd, buffer, 512);
  return buffer;
}

std::wstring className(HWND hwnd) {
  wchar_t buffer[64] = {};
  GetClassNameW(hwnd, buffer, 64);
  return buffer;
}

// The table's texts are UTF-8.
std::wstring widen(const char* utf8) {
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8, -1, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(n > 0 ? n - 1 : 0), L'\0');
  if (n > 1) MultiByteToWideChar(CP_UTF8, 0, utf8, -1, out.data(), n);
  return out;
}

LONG style(HWND hwnd) {
  return GetWindowLongW(hwnd, GWL_STYLE);
}

INPUT keyInput(WORD vk, DWORD flags) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = flags;
  return in;
}

// A chord as a person presses it: modifiers first, released in reverse.
void press(std::initializer_list<WORD> chord) {
  std::vector<INPUT> in;
  for (WORD vk : chord) in.push_back(keyInput(vk, 0));
  for (auto it = chord.end(); it != chord.begin();) in.push_back(keyInput(*--it, KEYEVENTF_KEYUP));
  SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

// Digits and letters by their keys, anything else as Unicode characters.
void typeKeys(std::wstring_view keys) {
  for (wchar_t c : keys) {
    if ((c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'z')) {
      press({static_cast<WORD>(c >= L'a' ? c - L'a' + L'A' : c)});
      continue;
    }
    INPUT in[2] = {keyInput(0, KEYEVENTF_UNICODE),
                   keyInput(0, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP)};
    in[0].ki.wScan = in[1].ki.wScan = c;
    SendInput(2, in, sizeof(INPUT));
  }
}

void clickAt(HWND hwnd, POINT at) {
  ClientToScreen(hwnd, &at);
  SetCursorPos(at.x, at.y);
  INPUT in[2]{};
  in[0].type = in[1].type = INPUT_MOUSE;
  in[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
  in[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
  SendInput(2, in, sizeof(INPUT));
}

const WindowDefinition& mainWindow() {
  return *findWindowDefinition(kProgramKey, kMainWindowName);
}

class Win32WindowTest : public testing::Test {
 protected:
  void SetUp() override {
    const std::array<FieldRef, 9> fields{&s.V_NOME_CPD, &s.V_BUFFER,     &s.V_PESO,
                                         &s.V_TAM,      &s.V_PASTA,      &s.V_BALANCA,
                                         &s.V_PORTA,    &s.V_VELOCIDADE, &s.V_DIVISOR};
    runtime = factory.build(mainWindow(), fields);
    ASSERT_NE(runtime, nullptr) << factory.failure();
    w = dynamic_cast<Win32Window*>(runtime.get());
    ASSERT_NE(w, nullptr);
    gWindow = w;
  }
  void TearDown() override { gWindow = nullptr; }

  void open() {
    w->open();
    SetForegroundWindow(w->frame());
    opening = drain(100);
    ASSERT_FALSE(opening.empty());
    EXPECT_EQ(opening.front(), (Event{event::OpenWindow, 0}));
  }

  // Every event delivered until `ms` have passed (0: only those waiting now),
  // with the window's message loop running meanwhile.
  std::vector<Event> drain(UINT ms = 0) {
    if (ms == 0)
      w->post(kSentinel);
    else
      SetTimer(nullptr, 0, ms, postSentinel);
    std::vector<Event> out;
    while (w->accept() && w->event() != kSentinel) out.push_back({w->event(), w->field()});
    return out;
  }

  // The first event with this code within `ms`, or {0, 0}; the rest of the
  // time runs the loop too.
  Event waitFor(int code, UINT ms = 2000) {
    Event found{0, 0};
    for (const Event& e : drain(ms))
      if (e.code == code && found.code == 0) found = e;
    return found;
  }

  static bool has(const std::vector<Event>& events, Event e) {
    return std::find(events.begin(), events.end(), e) != events.end();
  }

  HWND control(int n) { return w->window(n); }
  bool visible(int n) { return IsWindowVisible(control(n)) != FALSE; }
  int chosenTab() {
    return static_cast<int>(SendMessageW(control(control::SHEET1), TCM_GETCURSEL, 0, 0));
  }
  void clickTab(int index) {
    RECT r;
    SendMessageW(control(control::SHEET1), TCM_GETITEMRECT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(&r));
    clickAt(control(control::SHEET1), {(r.left + r.right) / 2, (r.top + r.bottom) / 2});
  }
  RECT placeOf(int n) {
    RECT r;
    GetWindowRect(control(n), &r);
    MapWindowPoints(HWND_DESKTOP, w->frame(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  }
  RECT dialogRect(int x, int y, int cx, int cy) {
    RECT r{x, y, x + cx, y + cy};
    MapDialogRect(w->frame(), &r);
    return r;
  }

  void unlockAndShowConfiguration() {
    w->enable(control::CONFIGURACAO);
    w->select(control::CONFIGURACAO);
    drain();
  }

  // Types into an input control the way a user does: focus, then keys.
  void type(int n, std::wstring_view keys) {
    w->select(n);
    drain();
    typeKeys(keys);
    drain(150);
  }

  CaptureState s;
  Win32WindowFactory factory;
  std::vector<Event> opening;
  std::unique_ptr<WindowRuntime> runtime;
  Win32Window* w = nullptr;
};

TEST_F(Win32WindowTest, PlacesEveryControlAtItsDialogUnits) {
  open();
  EXPECT_EQ(text(w->frame()), L"Quorvel 1.1");
  RECT client;
  GetClientRect(w->frame(), &client);
  const RECT whole = dialogRect(0, 0, 276, 135);
  EXPECT_EQ(client.right, whole.right);
  EXPECT_EQ(client.bottom, whole.bottom);

  // The dialog's font is the one of the definition.
  auto* font = reinterpret_cast<HFONT>(SendMessageW(w->frame(), WM_GETFONT, 0, 0));
  LOGFONTW lf{};
  ASSERT_NE(GetObjectW(font, sizeof lf, &lf), 0);
  EXPECT_STREQ(lf.lfFaceName, L"MS Sans Serif");

  // A tab is a page of the sheet, not a window of its own with a place.
  for (const layout::Control& p : layout::kControls) {
    if (p.kind == layout::Kind::Tab) continue;
    SCOPED_TRACE(p.number);
    ASSERT_NE(control(p.number), nullptr);
    const RECT at = placeOf(p.number);
    const RECT want = dialogRect(p.x, p.y, std::max(p.w, 0), std::max(p.h, 0));
    EXPECT_EQ(at.left, want.left);
    EXPECT_EQ(at.top, want.top);
    if (p.w != layout::kAutoSize) {
      EXPECT_EQ(at.right, want.right);
    }
    if (p.h != layout::kAutoSize) {
      EXPECT_EQ(at.bottom, want.bottom);
    }
    EXPECT_GT(at.right - at.left, 0);
    EXPECT_GT(at.bottom - at.top, 0);
  }

  // Sizes that follow from the content: a prompt fits its text, an entry the
  // characters of its picture, and field 9 ends inside the sheet.
  RECT units = dialogRect(0, 0, 4, 8);
  const int baseX = units.right;
  HDC dc = GetDC(w->frame());
  HGDIOBJ old = SelectObject(dc, font);
  for (const layout::Control& c : layout::kControls) {
    if (c.kind != layout::Kind::Prompt) continue;
    const int n = c.number;
    SCOPED_TRACE(n);
    const std::wstring caption = text(control(n));
    SIZE size;
    GetTextExtentPoint32W(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
    const RECT at = placeOf(n);
    EXPECT_GE(at.right - at.left, size.cx);
    EXPECT_GE(at.bottom - at.top, size.cy);
  }
  SIZE brand;
  GetTextExtentPoint32W(dc, L"Precision", 9, &brand);
  SelectObject(dc, old);
  ReleaseDC(w->frame(), dc);
  for (const layout::Control& c : layout::kControls) {
    if (c.kind != layout::Kind::Entry || c.w != layout::kAutoSize) continue;
    const int n = c.number;
    const int chars = layout::pictureChars(c.picture);
    SCOPED_TRACE(n);
    const RECT at = placeOf(n);
    EXPECT_GE(at.right - at.left, chars * baseX);
    EXPECT_LT(at.right - at.left, (chars + 4) * baseX);
  }
  EXPECT_LE(placeOf(control::V_TAM).right, dialogRect(0, 0, 272, 0).right);
  // The list's selection field holds its longest entry.
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetComboBoxInfo(control(control::V_BALANCA), &info));
  EXPECT_GE(info.rcItem.right - info.rcItem.left, brand.cx + baseX);
}

TEST_F(Win32WindowTest, ControlsAreOfTheirKinds) {
  struct Kind {
    int number;
    const wchar_t* cls;
  };
  for (const Kind& k : {Kind{1, WC_TABCONTROLW},
                        {3, L"Static"},
                        {4, L"Edit"},
                        {10, L"Button"},
                        {15, L"ComboBox"},
                        {22, L"Button"}})
    EXPECT_EQ(_wcsicmp(className(control(k.number)).c_str(), k.cls), 0) << k.number;
  EXPECT_EQ(text(control(control::CLOSE)), L"&Fechar");
  EXPECT_EQ(text(control(control::GRAVAR)), L"&Gravar");
  EXPECT_EQ(text(control(control::V_BALANCA_PROMPT)), L"Balan\u00e7a:");

  struct Entry {
    int number;
    bool readOnly;
    LONG justify;
  };
  for (const Entry& e : {Entry{4, true, ES_LEFT},
                         {6, true, ES_LEFT},
                         {8, true, ES_RIGHT},
                         {9, true, ES_CENTER},
                         {13, false, ES_LEFT},
                         {17, false, ES_CENTER},
                         {19, false, ES_CENTER},
                         {21, false, ES_RIGHT}}) {
    SCOPED_TRACE(e.number);
    EXPECT_EQ((style(control(e.number)) & ES_READONLY) != 0, e.readOnly);
    EXPECT_EQ(style(control(e.number)) & (ES_RIGHT | ES_CENTER), e.justify);
  }

  // The icon group of the resources is the window's icon.
  EXPECT_NE(SendMessageW(w->frame(), WM_GETICON, ICON_BIG, 0), 0);
  EXPECT_NE(SendMessageW(w->frame(), WM_GETICON, ICON_SMALL, 0), 0);
  EXPECT_EQ(static_cast<std::uint32_t>(w->nativeHandle()),
            static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(w->frame())));
}

TEST_F(Win32WindowTest, TooltipsOnTheSixControlsThatHaveOne) {
  HWND tips = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM found) {
        if (_wcsicmp(className(hwnd).c_str(), TOOLTIPS_CLASSW) == 0 &&
            GetWindow(hwnd, GW_OWNER) == gWindow->frame())
          *reinterpret_cast<HWND*>(found) = hwnd;
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&tips));
  ASSERT_NE(tips, nullptr);
  std::map<int, std::wstring> shown;
  const auto count = static_cast<int>(SendMessageW(tips, TTM_GETTOOLCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t buffer[80] = {};
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.lpszText = buffer;
    ASSERT_TRUE(SendMessageW(tips, TTM_ENUMTOOLSW, static_cast<WPARAM>(i),
                             reinterpret_cast<LPARAM>(&tool)));
    const int id = GetDlgCtrlID(reinterpret_cast<HWND>(tool.uId));
    shown[id - Win32Window::itemId(0)] = buffer;
  }
  std::map<int, std::wstring> expected;
  for (const layout::Control& c : layout::kControls)
    if (*c.tooltip != '\0') expected[c.number] = widen(c.tooltip);
  EXPECT_EQ(expected.size(), 6u);
  EXPECT_EQ(shown, expected);
}

TEST_F(Win32WindowTest, ShowsFieldsThroughTheirPictures) {
  s.V_PESO = Decimal::fromThousandths(12'500);
  s.V_VELOCIDADE = 9600;
  s.V_TAM = 254;
  s.V_PORTA = 3;
  s.V_BUFFER = "  +0012.50 kg";
  s.V_PASTA =
      "C:\\Pesagem\\Balan\xE7"
      "a \x80";
  w->display();
  EXPECT_EQ(text(control(control::V_PESO)), L"12,500");
  EXPECT_EQ(text(control(control::V_VELOCIDADE)), L"9600");
  EXPECT_EQ(text(control(control::V_TAM)), L"254");
  EXPECT_EQ(text(control(control::V_PORTA)), L"3");
  EXPECT_EQ(text(control(control::V_BUFFER)), L"  +0012.50 kg");
  EXPECT_EQ(text(control(control::V_PASTA)), L"C:\\Pesagem\\Balan\u00e7a \u20ac");
}

TEST_F(Win32WindowTest, ReadOnlyFieldsAreGreyAndTakeNoTyping) {
  open();
  s.V_NOME_CPD = "BALANCA01";
  w->display();
  for (int n : {control::V_NOME_CPD, control::V_BUFFER, control::V_PESO, control::V_TAM,
                control::V_PASTA}) {
    SCOPED_TRACE(n);
    // The colour the dialog gives the field, as the edit asks for it.
    HDC dc = GetDC(control(n));
    const UINT ask = n == control::V_PASTA ? WM_CTLCOLOREDIT : WM_CTLCOLORSTATIC;
    auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
        w->frame(), ask, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control(n))));
    LOGBRUSH lb{};
    if (brush != nullptr) GetObjectW(brush, sizeof lb, &lb);
    if (n == control::V_PASTA) {
      EXPECT_NE(lb.lbColor, RGB(0xC0, 0xC0, 0xC0));  // the default colours
    } else {
      ASSERT_NE(brush, nullptr);
      EXPECT_EQ(lb.lbColor, RGB(0xC0, 0xC0, 0xC0));
      EXPECT_EQ(GetBkColor(dc), RGB(0xC0, 0xC0, 0xC0));
    }
    ReleaseDC(control(n), dc);
  }
  // And as it is drawn: a pixel of the name field past its text.
  UpdateWindow(w->frame());
  drain(100);
  RECT r;
  GetClientRect(control(control::V_NOME_CPD), &r);
  HDC dc = GetDC(control(control::V_NOME_CPD));
  EXPECT_EQ(GetPixel(dc, r.right - 3, r.bottom / 2), RGB(0xC0, 0xC0, 0xC0));
  ReleaseDC(control(control::V_NOME_CPD), dc);

  type(control::V_NOME_CPD, L"xyz");
  type(control::V_PESO, L"9");
  w->select(control::V_BUFFER);
  EXPECT_EQ(text(control(control::V_NOME_CPD)), L"BALANCA01");
  EXPECT_EQ(text(control(control::V_PESO)), L"0,000");
  EXPECT_EQ(s.V_NOME_CPD, "BALANCA01");
  EXPECT_FALSE(has(drain(), {event::Rejected, control::V_NOME_CPD}));
}

TEST_F(Win32WindowTest, ConfigurationTabOpensOnlyAfterTheUnlockChord) {
  open();
  EXPECT_EQ(SendMessageW(control(control::SHEET1), TCM_GETITEMCOUNT, 0, 0), 2);
  EXPECT_EQ(chosenTab(), 0);
  for (int n = 3; n <= 10; ++n) EXPECT_TRUE(visible(n)) << n;
  for (int n = 12; n <= 22; ++n) EXPECT_FALSE(visible(n)) << n;

  clickTab(1);
  std::vector<Event> events = drain(200);
  EXPECT_EQ(chosenTab(), 0);
  EXPECT_FALSE(visible(control::GRAVAR));
  press({VK_CONTROL, VK_TAB});
  w->select(control::CONFIGURACAO);
  w->select(control::V_PASTA);
  events = drain(200);
  EXPECT_EQ(chosenTab(), 0);
  EXPECT_FALSE(has(events, {event::NewSelection, control::SHEET1}));

  // Ctrl+K, whatever control has the focus: an edit (which has a use of its own
  // for it), a button, the tab bar.
  for (int n : {control::V_NOME_CPD_PROMPT, control::CLOSE, control::SHEET1}) {
    SCOPED_TRACE(n);
    w->select(n);
    drain();
    press({VK_CONTROL, 'K'});
    EXPECT_EQ(waitFor(event::AlertKey, 300), (Event{event::AlertKey, 0}));
    EXPECT_EQ(w->keyCode(), key::CtrlK);
  }
  EXPECT_FALSE(w->tabEnabled(control::CONFIGURACAO));  // the procedure enables it

  w->enable(control::CONFIGURACAO);
  clickTab(1);
  events = drain(200);
  EXPECT_EQ(chosenTab(), 1);
  const auto changing = std::find(events.begin(), events.end(), Event{event::TabChanging, 1});
  const auto chosen = std::find(events.begin(), events.end(), Event{event::NewSelection, 1});
  ASSERT_NE(changing, events.end());
  ASSERT_NE(chosen, events.end());
  EXPECT_LT(changing, chosen);
  for (int n = 3; n <= 10; ++n) EXPECT_FALSE(visible(n)) << n;
  for (int n = 12; n <= 22; ++n) EXPECT_TRUE(visible(n)) << n;

  // On the list too, and the keys step between the tabs that can be chosen.
  w->select(control::V_BALANCA);
  drain();
  press({VK_CONTROL, 'K'});
  EXPECT_EQ(waitFor(event::AlertKey, 300), (Event{event::AlertKey, 0}));
  press({VK_CONTROL, VK_TAB});
  drain(150);
  EXPECT_EQ(chosenTab(), 0);
  EXPECT_TRUE(visible(control::CLOSE));
}

TEST_F(Win32WindowTest, OtherKeysAreNoAlert) {
  open();
  w->select(control::V_NOME_CPD_PROMPT);
  drain();
  press({VK_CONTROL, 'J'});
  press({'K'});
  press({VK_SHIFT, VK_CONTROL, 'K'});
  EXPECT_EQ(waitFor(event::AlertKey, 300), (Event{0, 0}));
}

TEST_F(Win32WindowTest, BrandListOffersExactlyTheFourBrands) {
  open();
  unlockAndShowConfiguration();
  HWND list = control(control::V_BALANCA);
  EXPECT_EQ(style(list) & 3, CBS_DROPDOWNLIST);
  std::vector<std::wstring> entries;
  const auto count = static_cast<int>(SendMessageW(list, CB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    wchar_t buffer[32] = {};
    SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(buffer));
    entries.emplace_back(buffer);
  }
  EXPECT_EQ(entries, (std::vector<std::wstring>{L"Precision", L"DIG", L"FIL", L"TOL"}));
  EXPECT_EQ(SendMessageW(list, CB_GETMINVISIBLE, 0, 0), 6);

  // Opened, all four show at once.
  w->select(control::V_BALANCA);
  SendMessageW(list, CB_SHOWDROPDOWN, TRUE, 0);
  drain(100);
  COMBOBOXINFO info{};
  info.cbSize = sizeof info;
  ASSERT_TRUE(GetComboBoxInfo(list, &info));
  RECT dropped;
  GetClientRect(info.hwndList, &dropped);
  const auto itemHeight = static_cast<int>(SendMessageW(list, CB_GETITEMHEIGHT, 0, 0));
  EXPECT_TRUE(IsWindowVisible(info.hwndList));
  EXPECT_GE(dropped.bottom, 4 * itemHeight);
  SendMessageW(list, CB_SHOWDROPDOWN, FALSE, 0);
  drain(50);

  s.V_BALANCA = "DIG";
  w->display();
  EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 1);
  // Choosing an entry stores it at once; a brand cannot be typed.
  w->select(control::V_BALANCA);
  drain();
  press({VK_DOWN});
  drain(100);
  EXPECT_EQ(s.V_BALANCA, "FIL");
  typeKeys(L"xyz");
  drain(100);
  EXPECT_EQ(s.V_BALANCA, "FIL");

  // A brand that is none of the entries: nothing chosen, the field kept.
  s.V_BALANCA = "Toledo";
  w->display();
  EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), -1);
  EXPECT_EQ(s.V_BALANCA, "Toledo");
  s.V_BALANCA = "TOL";
  w->display();
  EXPECT_EQ(SendMessageW(list, CB_GETCURSEL, 0, 0), 3);
}

TEST_F(Win32WindowTest, InputIsStoredWhenTheUserLeavesTheControl) {
  open();
  unlockAndShowConfiguration();
  type(control::V_PORTA, L"3");
  type(control::V_VELOCIDADE, L"2400");
  type(control::V_PASTA, L"C:\\Pesagem \u00c7 \u20ac");
  EXPECT_EQ(s.V_PORTA, 3);
  EXPECT_EQ(s.V_VELOCIDADE, 2400);
  w->select(control::V_DIVISOR);
  drain();
  EXPECT_EQ(s.V_PASTA, "C:\\Pesagem \xC7 \x80");
}

TEST_F(Win32WindowTest, RefusedInputIsReportedAndNotStored) {
  struct Case {
    int control;
    const wchar_t* keys;
  };
  const Case cases[] = {
      {control::V_PORTA, L"x"},
      {control::V_VELOCIDADE, L"96a"},
      {control::V_DIVISOR, L"-1"},
      {control::V_PASTA, L"\u0101"},  // a character that Windows-1252 cannot hold
  };
  open();
  unlockAndShowConfiguration();
  s.V_PORTA = 2;
  s.V_VELOCIDADE = 9600;
  s.V_DIVISOR = 10;
  s.V_PASTA = "C:\\Pesagem";
  w->display();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.control);
    type(c.control, c.keys);
    w->select(control::V_BALANCA);
    EXPECT_EQ(waitFor(event::Rejected, 300), (Event{event::Rejected, c.control}));
  }
  EXPECT_EQ(s.V_PORTA, 2);
  EXPECT_EQ(s.V_VELOCIDADE, 9600);
  EXPECT_EQ(s.V_DIVISOR, 10);
  EXPECT_EQ(s.V_PASTA, "C:\\Pesagem");
  // What the procedure does next: the field shows its value again.
  w->display(control::V_PORTA);
  EXPECT_EQ(text(control(control::V_PORTA)), L"2");
  // Typing is limited to the picture's width.
  type(control::V_PORTA, L"45");
  EXPECT_EQ(text(control(control::V_PORTA)), L"4");
}

TEST_F(Win32WindowTest, RedisplayKeepsAnEditInProgress) {
  open();
  unlockAndShowConfiguration();
  s.V_PASTA = "C:\\Antes";
  w->display();
  type(control::V_PASTA, L"D:\\Novo");
  s.V_DIVISOR = 100;
  w->display();  // as every timer tick does while the port is open
  EXPECT_EQ(text(control(control::V_PASTA)), L"D:\\Novo");
  EXPECT_EQ(text(control(control::V_DIVISOR)), L"100");
  EXPECT_EQ(s.V_PASTA, "C:\\Antes");
  w->select(control::V_DIVISOR);
  drain();
  EXPECT_EQ(s.V_PASTA, "D:\\Novo");
  w->display();
  EXPECT_EQ(text(control(control::V_PASTA)), L"D:\\Novo");
}

TEST_F(Win32WindowTest, AccessKeysPressTheButtonsOfTheChosenTabOnly) {
  open();
  press({VK_MENU, 'G'});
  press({VK_MENU, 'F'});
  std::vector<Event> events = drain(300);
  EXPECT_TRUE(has(events, {event::Accepted, control::CLOSE}));
  EXPECT_FALSE(has(events, {event::Accepted, control::GRAVAR}));

  unlockAndShowConfiguration();
  press({VK_MENU, 'F'});
  press({VK_MENU, 'G'});
  events = drain(300);
  EXPECT_TRUE(has(events, {event::Accepted, control::GRAVAR}));
  EXPECT_FALSE(has(events, {event::Accepted, control::CLOSE}));
}

TEST_F(Win32WindowTest, ButtonPressFindsPendingEditsStored) {
  open();
  unlockAndShowConfiguration();
  type(control::V_VELOCIDADE, L"4800");
  ASSERT_EQ(GetFocus(), control(control::V_VELOCIDADE));
  press({VK_MENU, 'G'});
  std::vector<Event> events = drain(300);
  EXPECT_TRUE(has(events, {event::Accepted, control::GRAVAR}));
  EXPECT_EQ(s.V_VELOCIDADE, 4800);

  // A refused edit stops the press: only its rejection is delivered.
  type(control::V_VELOCIDADE, L"x");
  press({VK_MENU, 'G'});
  events = drain(300);
  EXPECT_TRUE(has(events, {event::Rejected, control::V_VELOCIDADE}));
  EXPECT_FALSE(has(events, {event::Accepted, control::GRAVAR}));
  EXPECT_EQ(s.V_VELOCIDADE, 4800);
}

TEST_F(Win32WindowTest, ActivationAndRestoringAskForADisplay) {
  open();
  EXPECT_TRUE(has(opening, {event::GainFocus, 0}));
  ShowWindow(w->frame(), SW_MINIMIZE);
  EXPECT_FALSE(has(drain(100), {event::Redisplay, 0}));
  ShowWindow(w->frame(), SW_RESTORE);
  EXPECT_EQ(waitFor(event::Redisplay, 300), (Event{event::Redisplay, 0}));
}

TEST_F(Win32WindowTest, SelectingAPromptFocusesItsControlAndReportsIt) {
  open();
  w->select(control::CLOSE);
  drain();
  w->select(control::V_NOME_CPD_PROMPT);
  EXPECT_EQ(GetFocus(), control(control::V_NOME_CPD));
  EXPECT_EQ(waitFor(event::Selected, 100), (Event{event::Selected, control::V_NOME_CPD}));
}

TEST_F(Win32WindowTest, TimerTicksAtItsIntervalOneAtATime) {
  open();
  std::vector<DWORD> at;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(waitFor(event::Timer, 1000).code, event::Timer);
    at.push_back(GetTickCount());
  }
  EXPECT_GE(at[2] - at[0], 800u);
  // Ticks that nobody takes do not pile up.
  Sleep(1100);
  std::vector<Event> waiting = drain();
  EXPECT_LE(std::count(waiting.begin(), waiting.end(), Event{event::Timer, 0}), 1);
}

struct BoxSeen {
  std::wstring caption, text;
  HICON icon = nullptr;
};
BoxSeen gBox;

// Reads and closes the message box of this thread.
void CALLBACK closeMessageBox(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND hwnd, LPARAM) {
        if (className(hwnd) != L"#32770" || hwnd == gWindow->frame() || !IsWindowVisible(hwnd))
          return TRUE;
        gBox.caption = text(hwnd);
        gBox.text = text(GetDlgItem(hwnd, 0xFFFF));
        // The icon's static, by the identifier of Windows or that of Wine.
        for (int item : {0x14, 0x440})
          if (HWND icon = GetDlgItem(hwnd, item))
            gBox.icon = reinterpret_cast<HICON>(SendMessageW(icon, STM_GETICON, 0, 0));
        PostMessageW(hwnd, WM_COMMAND, IDOK, 0);
        return FALSE;
      },
      0);
}

TEST_F(Win32WindowTest, TicksAreDroppedWhileAMessageIsOpen) {
  open();
  drain();
  gBox = {};
  SetTimer(nullptr, 0, 1300, closeMessageBox);
  w->message("Porta COM1 n\xE3o dispon\xEDvel", "Erro", MessageIcon::Stop);
  EXPECT_EQ(gBox.caption, L"Erro");
  EXPECT_EQ(gBox.text, L"Porta COM1 n\u00e3o dispon\u00edvel");
  EXPECT_EQ(gBox.icon, LoadIconW(nullptr, IDI_HAND));
  const std::vector<Event> afterwards = drain();
  EXPECT_EQ(std::count(afterwards.begin(), afterwards.end(), Event{event::Timer, 0}), 0);
  EXPECT_EQ(waitFor(event::Timer, 1000).code, event::Timer);  // and it goes on

  gBox = {};
  SetTimer(nullptr, 0, 100, closeMessageBox);
  w->message(
      "Balan\xE7"
      "a desconhecida",
      "Aviso", MessageIcon::Exclamation);
  EXPECT_EQ(gBox.caption, L"Aviso");
  EXPECT_EQ(gBox.icon, LoadIconW(nullptr, IDI_EXCLAMATION));
}

TEST_F(Win32WindowTest, CloseFromTheFrameEndsTheLoop) {
  open();
  PostMessageW(w->frame(), WM_SYSCOMMAND, SC_CLOSE, 0);  // as the close box does
  std::vector<Event> events;
  while (w->accept()) events.push_back({w->event(), w->field()});
  ASSERT_FALSE(events.empty());
  EXPECT_EQ(events.back(), (Event{event::CloseWindow, 0}));
  EXPECT_TRUE(IsWindowVisible(w->frame()));  // the procedure closes it
  EXPECT_FALSE(w->accept());
  w->close();
  EXPECT_FALSE(IsWindowVisible(w->frame()));
}

TEST(Win32WindowFactory, RefusesWhatItCannotBuild) {
  CaptureState s;
  Win32WindowFactory factory;
  const std::array<FieldRef, 9> fields{&s.V_NOME_CPD, &s.V_BUFFER,     &s.V_PESO,
                                       &s.V_TAM,      &s.V_PASTA,      &s.V_BALANCA,
                                       &s.V_PORTA,    &s.V_VELOCIDADE, &s.V_DIVISOR};
  EXPECT_EQ(factory.build(mainWindow(), std::span(fields).first(8)), nullptr);
  EXPECT_FALSE(factory.failure().empty());
  EXPECT_NE(factory.build(mainWindow(), fields), nullptr);
  EXPECT_TRUE(factory.failure().empty());
}

}  // namespace
}  // namespace quorvel

// Under Wine, the tests' windows live on a desktop of their own, which Wine
// draws as one window of the X server: with no window manager there, every
// window that hides would otherwise wait two seconds for one.
int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr) {
    const wchar_t* name = L"quorvel-window-test";
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Explorer\\Desktops", 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) == ERROR_SUCCESS) {
      const wchar_t size[] = L"1024x768";
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(size), sizeof size);
      RegCloseKey(key);
    }
    if (HDESK desktop = CreateDesktopW(name, nullptr, nullptr, 0, GENERIC_ALL, nullptr))
      SetThreadDesktop(desktop);
  }
  return RUN_ALL_TESTS();
}
