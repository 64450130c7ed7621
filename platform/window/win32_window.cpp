#include "platform/window/win32_window.hpp"

#include <commctrl.h>

#include <algorithm>

#include "capture/state/cp1252.hpp"
#include "capture/state/text.hpp"
#include "platform/window/definition_check.hpp"

namespace quorvel {
namespace {

constexpr UINT_PTR kTimerId = 1;

std::wstring wide(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(std::max(n, 0)), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
  return out;
}

// Nothing for text that is not valid UTF-16 (a lone surrogate).
std::optional<std::string> utf8(std::wstring_view text) {
  if (text.empty()) return std::string{};
  const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(),
                                    static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::nullopt;
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text.data(), static_cast<int>(text.size()),
                      out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring fromBytes(std::string_view cp1252Bytes) {
  return wide(cp1252::toUtf8(cp1252Bytes));
}

std::optional<std::string> toBytes(std::wstring_view text) {
  const std::optional<std::string> u = utf8(text);
  if (!u) return std::nullopt;
  return cp1252::fromUtf8(*u);
}

std::wstring windowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::vector<std::wstring> listEntries(std::string_view entries) {
  std::vector<std::wstring> out;
  if (entries.empty()) return out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t bar = entries.find('|', start);
    out.push_back(wide(entries.substr(start, bar - start)));
    if (bar == std::string_view::npos) return out;
    start = bar + 1;
  }
}

COLORREF colourRef(std::uint32_t rgb) {
  return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

RECT windowRectIn(HWND hwnd, HWND parent) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

// A dialog template (DLGTEMPLATE and its items): 16-bit words, items on
// 32-bit boundaries.
class TemplateWriter {
 public:
  void word(unsigned v) { words_.push_back(static_cast<unsigned short>(v)); }
  void dword(DWORD v) {
    word(v & 0xFFFF);
    word(v >> 16);
  }
  void text(std::wstring_view s) {
    for (wchar_t c : s) word(static_cast<unsigned>(c));
    word(0);
  }
  void align() {
    if (words_.size() % 2 != 0) word(0);
  }
  std::vector<unsigned short> take() { return std::move(words_); }

 private:
  std::vector<unsigned short> words_;
};

unsigned short du(int v) {
  return static_cast<unsigned short>(static_cast<short>(std::clamp(v, 0, 0x7FFF)));
}

}  // namespace

std::unique_ptr<WindowRuntime> Win32WindowFactory::build(const WindowDefinition& definition,
                                                         std::span<const FieldRef> fields) {
  failure_.clear();
  if (!buildable(definition, fields)) {
    failure_ = "the window definition is not valid";
    return nullptr;
  }
  static const bool commonControls = [] {
    INITCOMMONCONTROLSEX icc{sizeof(INITCOMMONCONTROLSEX),
                             ICC_TAB_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    return InitCommonControlsEx(&icc) != FALSE;
  }();
  (void)commonControls;
  std::unique_ptr<Win32Window> window(new Win32Window(definition, fields));
  const std::vector<unsigned short> bytes = window->dialogTemplate();
  SetLastError(0);
  HWND dialog = CreateDialogIndirectParamW(
      GetModuleHandleW(nullptr), reinterpret_cast<const DLGTEMPLATE*>(bytes.data()), nullptr,
      &Win32Window::dialogProc, reinterpret_cast<LPARAM>(window.get()));
  if (dialog == nullptr) {
    const DWORD error = GetLastError();
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string why = text != nullptr ? utf8(text).value_or("") : "";
    if (text != nullptr) LocalFree(text);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == ' '))
      why.pop_back();
    failure_ = "Windows cannot create the window (error " + std::to_string(error) +
               (why.empty() ? ")" : ": " + why + ")");
    return nullptr;
  }
  return window;
}

Win32Window::Win32Window(const WindowDefinition& definition, std::span<const FieldRef> fields)
    : definition_(definition), fields_(fields.begin(), fields.end()) {
  controls_.resize(definition.controls.size());
  std::size_t nextField = 0;
  int tabsOnSheet[64] = {};
  for (std::size_t i = 0; i < controls_.size(); ++i) {
    Control& c = controls_[i];
    c.def = &definition.controls[i];
    const ControlDef& d = *c.def;
    if (d.kind == ControlKind::Entry) c.picture = Picture::parse(d.picture);
    if (isDataControl(d.kind)) c.field = fields_[nextField++];
    if (d.kind == ControlKind::Tab) {
      c.tabIndex = tabsOnSheet[std::min(d.container, 63)]++;
      c.enabled = !d.disabled;
    }
    for (int on = d.container; on != 0;
         on = definition.controls[static_cast<std::size_t>(on) - 1].container)
      if (definition.controls[static_cast<std::size_t>(on) - 1].kind == ControlKind::Tab) {
        c.tab = on;
        break;
      }
    c.tooltip = wide(d.tooltip);
    if (d.background) {
      c.colour = colourRef(*d.background);
      c.background = CreateSolidBrush(c.colour);
    }
  }
}

Win32Window::~Win32Window() {
  open_ = false;
  if (dialog_ != nullptr) {
    SetWindowLongPtrW(dialog_, DWLP_USER, 0);
    DestroyWindow(dialog_);
  }
  for (Control& c : controls_)
    if (c.background != nullptr) DeleteObject(c.background);
  if (bigIcon_ != nullptr) DestroyIcon(bigIcon_);
  if (smallIcon_ != nullptr) DestroyIcon(smallIcon_);
}

// The sheet goes last: the last item is at the bottom of the Z order, so the
// tab control, clipped against its siblings, never paints over the pages.
std::vector<unsigned short> Win32Window::dialogTemplate() const {
  std::vector<const Control*> items;
  for (const Control& c : controls_)
    if (c.def->kind != ControlKind::Tab && c.def->kind != ControlKind::Sheet) items.push_back(&c);
  for (const Control& c : controls_)
    if (c.def->kind == ControlKind::Sheet) items.push_back(&c);

  TemplateWriter t;
  t.dword(WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | DS_SETFONT | DS_CENTER);
  t.dword(WS_EX_APPWINDOW | WS_EX_CONTROLPARENT);
  t.word(static_cast<unsigned>(items.size()));
  t.word(0);
  t.word(0);
  t.word(du(definition_.width));
  t.word(du(definition_.height));
  t.word(0);  // no menu
  t.word(0);  // the dialog class
  t.text(wide(definition_.caption));
  t.word(static_cast<unsigned>(definition_.fontPoints > 0 ? definition_.fontPoints : 8));
  t.text(wide(definition_.font));

  for (const Control* c : items) {
    const ControlDef& d = *c->def;
    DWORD style = WS_CHILD;
    DWORD exStyle = 0;
    const wchar_t* cls = L"";
    // Auto sizes are measured in the dialog's font once it exists.
    int w = d.w == kAuto ? 8 : d.w;
    int h = d.h == kAuto ? 8 : d.h;
    switch (d.kind) {
      case ControlKind::Sheet:
        cls = WC_TABCONTROLW;
        style |= WS_TABSTOP | WS_CLIPSIBLINGS | TCS_OWNERDRAWFIXED;
        break;
      case ControlKind::Prompt:
        cls = L"STATIC";
        style |= SS_LEFT;
        break;
      case ControlKind::Entry:
        cls = L"EDIT";
        style |= WS_TABSTOP | ES_AUTOHSCROLL;
        style |= d.justify == Justify::Right    ? ES_RIGHT
                 : d.justify == Justify::Center ? ES_CENTER
                                                : ES_LEFT;
        if (d.readOnly) style |= ES_READONLY;
        exStyle |= WS_EX_CLIENTEDGE;
        break;
      case ControlKind::List:
        cls = L"COMBOBOX";
        style |= WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS;
        break;
      case ControlKind::Button:
        cls = L"BUTTON";
        style |= WS_TABSTOP | BS_PUSHBUTTON | BS_NOTIFY;
        break;
      case ControlKind::Tab:
        break;
    }
    if (d.disabled) style |= WS_DISABLED;
    if (c->tab == 0) style |= WS_VISIBLE;  // the tabs' controls show with their tab
    t.align();
    t.dword(style);
    t.dword(exStyle);
    t.word(du(d.x));
    t.word(du(d.y));
    t.word(du(w));
    t.word(du(h));
    t.word(static_cast<unsigned>(itemId(d.number)));
    t.text(cls);
    t.text(d.kind == ControlKind::Entry ? std::wstring() : wide(d.text));
    t.word(0);  // no creation data
  }
  return t.take();
}

INT_PTR CALLBACK Win32Window::dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    auto* self = reinterpret_cast<Win32Window*>(lParam);
    self->dialog_ = dialog;
    self->initialise();
    // No focus yet: setting it would activate the hidden dialog, and open()
    // would then bring no activation.
    return FALSE;
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (self == nullptr) return FALSE;
  return self->handle(message, wParam, lParam);
}

void Win32Window::initialise() {
  for (Control& c : controls_)
    if (c.def->kind != ControlKind::Tab) c.hwnd = GetDlgItem(dialog_, itemId(c.def->number));
  for (Control& c : controls_) {
    const ControlDef& d = *c.def;
    if (d.kind == ControlKind::Tab) {
      Control* sheet = sheetOf(c);
      std::wstring title = wide(d.text);
      TCITEMW item{};
      item.mask = TCIF_TEXT;
      item.pszText = title.data();
      SendMessageW(sheet->hwnd, TCM_INSERTITEMW, static_cast<WPARAM>(c.tabIndex),
                   reinterpret_cast<LPARAM>(&item));
    } else if (d.kind == ControlKind::Sheet) {
      SetWindowSubclass(c.hwnd, &Win32Window::sheetProc, 1, reinterpret_cast<DWORD_PTR>(this));
      SetWindowPos(c.hwnd, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    } else if (d.kind == ControlKind::List) {
      for (const std::wstring& entry : listEntries(d.entries))
        SendMessageW(c.hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
      if (d.dropRows > 0)
        SendMessageW(c.hwnd, CB_SETMINVISIBLE, static_cast<WPARAM>(d.dropRows), 0);
    }
  }
  sizeAutoControls();
  addTooltips();
  setIcon();
  // The first tab of each sheet is chosen: only its controls show.
  for (Control& c : controls_)
    if (c.def->kind == ControlKind::Tab && c.tabIndex == 0) showTab(c, false);
  display();
}

void Win32Window::sizeAutoControls() {
  RECT units{0, 0, 4, 8};
  MapDialogRect(dialog_, &units);
  const int baseX = units.right;
  HDC dc = GetDC(dialog_);
  auto* font = reinterpret_cast<HFONT>(SendMessageW(dialog_, WM_GETFONT, 0, 0));
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  const auto textSize = [&](const std::wstring& text, UINT flags = 0) {
    RECT r{0, 0, 0, 0};
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
              DT_CALCRECT | DT_SINGLELINE | flags);
    return SIZE{r.right, std::max<LONG>(r.bottom, tm.tmHeight)};
  };
  const auto dialogUnits = [&](const ControlDef& d) {
    RECT r{d.x, d.y, d.x + std::max(d.w, 0), d.y + std::max(d.h, 0)};
    MapDialogRect(dialog_, &r);
    return r;
  };

  for (Control& c : controls_) {
    const ControlDef& d = *c.def;
    if (c.hwnd == nullptr) continue;
    const RECT at = dialogUnits(d);
    int w = at.right - at.left;
    int h = at.bottom - at.top;
    RECT outer = windowRectIn(c.hwnd, dialog_);
    RECT inner;
    GetClientRect(c.hwnd, &inner);
    const int frameX = (outer.right - outer.left) - inner.right;
    const int frameY = (outer.bottom - outer.top) - inner.bottom;
    switch (d.kind) {
      case ControlKind::Prompt: {
        const SIZE s = textSize(wide(d.text));
        if (d.w == kAuto) w = s.cx;
        if (d.h == kAuto) h = s.cy;
        break;
      }
      case ControlKind::Entry: {
        // The picture's width in average characters, the margins, the caret and the frame.
        const LRESULT margins = SendMessageW(c.hwnd, EM_GETMARGINS, 0, 0);
        if (d.w == kAuto)
          w = c.picture->width * baseX + LOWORD(margins) + HIWORD(margins) + 1 + frameX;
        if (d.h == kAuto) h = tm.tmHeight + 2 + frameY;
        break;
      }
      case ControlKind::Button:
        if (d.w == kAuto) w = textSize(wide(d.text)).cx + 4 * baseX;
        if (d.h == kAuto) h = tm.tmHeight + 2 * baseX;
        break;
      case ControlKind::List: {
        if (d.w == kAuto) {
          int widest = 0;
          for (const std::wstring& entry : listEntries(d.entries))
            widest = std::max<int>(widest, textSize(entry, DT_NOPREFIX).cx);
          // What the box takes around its selection field, measured at a width
          // where the field is not squeezed to nothing.
          const int probe = widest + 20 * baseX;
          SetWindowPos(c.hwnd, nullptr, 0, 0, probe, outer.bottom - outer.top,
                       SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
          COMBOBOXINFO info{};
          info.cbSize = sizeof info;
          GetComboBoxInfo(c.hwnd, &info);
          const int around = probe - (info.rcItem.right - info.rcItem.left);
          w = widest + around + 2 * baseX;  // the drawn text is inset, the focus frame too
        }
        const int itemHeight = tm.tmHeight + 2;
        SendMessageW(c.hwnd, CB_SETITEMHEIGHT, 0, itemHeight);
        // The height given to a drop-down list is that of the opened list; the
        // closed box takes the definition's height through its selection field.
        const int rows = std::max(d.dropRows, 1);
        const int want = d.h == kAuto ? 0 : h;
        // Not every version reads the field's height back as it was set:
        // the request follows what the closed box measures.
        LRESULT request = SendMessageW(c.hwnd, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0);
        for (int attempt = 0; attempt < 4; ++attempt) {
          const RECT now = windowRectIn(c.hwnd, dialog_);
          const int closed = now.bottom - now.top;
          SetWindowPos(c.hwnd, nullptr, at.left, at.top, w, closed + rows * itemHeight + 2,
                       SWP_NOZORDER | SWP_NOACTIVATE);
          if (want == 0 || closed == want) break;
          request = std::max<LRESULT>(1, request + want - closed);
          SendMessageW(c.hwnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), request);
        }
        continue;
      }
      default:
        break;
    }
    SetWindowPos(c.hwnd, nullptr, at.left, at.top, w, h, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  SelectObject(dc, old);
  ReleaseDC(dialog_, dc);
}

void Win32Window::addTooltips() {
  bool any = false;
  for (const Control& c : controls_) any = any || (!c.tooltip.empty() && c.hwnd != nullptr);
  if (!any) return;
  tooltips_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr,
                              WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, CW_USEDEFAULT, dialog_, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
  if (tooltips_ == nullptr) return;
  for (Control& c : controls_) {
    if (c.tooltip.empty() || c.hwnd == nullptr) continue;
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof tool;
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = dialog_;
    tool.uId = reinterpret_cast<UINT_PTR>(c.hwnd);
    tool.lpszText = c.tooltip.data();
    SendMessageW(tooltips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

void Win32Window::setIcon() {
  const std::wstring name = wide(definition_.icon);
  if (name.empty()) return;
  HINSTANCE module = GetModuleHandleW(nullptr);
  bigIcon_ =
      static_cast<HICON>(LoadImageW(module, name.c_str(), IMAGE_ICON, GetSystemMetrics(SM_CXICON),
                                    GetSystemMetrics(SM_CYICON), 0));
  smallIcon_ =
      static_cast<HICON>(LoadImageW(module, name.c_str(), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                    GetSystemMetrics(SM_CYSMICON), 0));
  if (bigIcon_ != nullptr)
    SendMessageW(dialog_, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_));
  if (smallIcon_ != nullptr)
    SendMessageW(dialog_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_));
}

HWND Win32Window::window(int control) const {
  if (control < 1 || control > static_cast<int>(controls_.size())) return nullptr;
  return controls_[static_cast<std::size_t>(control) - 1].hwnd;
}

bool Win32Window::tabEnabled(int control) const {
  if (control < 1 || control > static_cast<int>(controls_.size())) return false;
  const Control& c = controls_[static_cast<std::size_t>(control) - 1];
  return c.def->kind == ControlKind::Tab && c.enabled;
}

Win32Window::Control* Win32Window::find(int control) {
  if (control < 1 || control > static_cast<int>(controls_.size())) return nullptr;
  return &controls_[static_cast<std::size_t>(control) - 1];
}

Win32Window::Control* Win32Window::byItem(int id) {
  return find(id - kFirstId);
}

Win32Window::Control* Win32Window::byWindow(HWND hwnd) {
  if (hwnd == nullptr) return nullptr;
  for (Control& c : controls_)
    if (c.hwnd == hwnd) return &c;
  return nullptr;
}

Win32Window::Control* Win32Window::sheetOf(const Control& tab) {
  return find(tab.def->container);
}

// Chooses a tab: its controls show, those of the sheet's other tabs hide. When
// the focus was on a control that hides, it moves to the chosen tab.
void Win32Window::showTab(Control& tab, bool notify) {
  Control* sheet = sheetOf(tab);
  const int before = sheet->shownTab;
  sheet->shownTab = tab.def->number;
  SendMessageW(sheet->hwnd, TCM_SETCURSEL, static_cast<WPARAM>(tab.tabIndex), 0);
  HWND focused = GetFocus();
  bool focusHidden = false;
  for (Control& c : controls_) {
    if (c.tab == 0 || c.hwnd == nullptr || find(c.tab)->def->container != sheet->def->number)
      continue;
    const bool show = c.tab == tab.def->number;
    if (!show && (c.hwnd == focused || IsChild(c.hwnd, focused))) focusHidden = true;
    ShowWindow(c.hwnd, show ? SW_SHOWNA : SW_HIDE);
  }
  if (focusHidden) {
    HWND next = nullptr;
    for (Control& c : controls_)
      if (c.tab == tab.def->number && c.hwnd != nullptr && next == nullptr &&
          (GetWindowLongW(c.hwnd, GWL_STYLE) & (WS_TABSTOP | WS_DISABLED)) == WS_TABSTOP)
        next = c.hwnd;
    focus(next != nullptr ? next : sheet->hwnd);
  }
  if (notify && open_ && before != tab.def->number) {
    queue(event::TabChanging, sheet->def->number);
    queue(event::NewSelection, sheet->def->number);
  }
}

// Ctrl+Tab and Ctrl+Page Down choose the next tab that can be chosen,
// Ctrl+Shift+Tab and Ctrl+Page Up the one before.
void Win32Window::stepTab(bool forward) {
  for (Control& sheet : controls_) {
    if (sheet.def->kind != ControlKind::Sheet) continue;
    std::vector<Control*> tabs;
    for (Control& c : controls_)
      if (c.def->kind == ControlKind::Tab && c.def->container == sheet.def->number)
        tabs.push_back(&c);
    if (tabs.empty()) return;
    const auto count = static_cast<int>(tabs.size());
    const auto current = static_cast<int>(SendMessageW(sheet.hwnd, TCM_GETCURSEL, 0, 0));
    for (int step = 1; step < count; ++step) {
      const int i = ((current + (forward ? step : -step)) % count + count) % count;
      if (tabs[static_cast<std::size_t>(i)]->enabled) {
        showTab(*tabs[static_cast<std::size_t>(i)], true);
        return;
      }
    }
    return;
  }
}

void Win32Window::open() {
  if (open_) return;
  open_ = true;
  closeDelivered_ = false;
  queue(event::OpenWindow, 0);
  ShowWindow(dialog_, SW_SHOW);
  SetForegroundWindow(dialog_);
  UpdateWindow(dialog_);
  if (definition_.timerHundredths > 0)
    SetTimer(dialog_, kTimerId, static_cast<UINT>(definition_.timerHundredths) * 10, nullptr);
}

void Win32Window::close() {
  open_ = false;
  KillTimer(dialog_, kTimerId);
  ShowWindow(dialog_, SW_HIDE);
}

bool Win32Window::accept() {
  if (closeDelivered_) return false;
  while (events_.empty()) {
    if (!open_) return false;
    MSG m;
    const BOOL got = GetMessageW(&m, nullptr, 0, 0);
    if (got == -1) return false;
    if (got == 0) {
      // Someone asked the thread to quit: a close request like the frame's.
      queue(event::CloseWindow, 0);
      continue;
    }
    refusedBy_ = nullptr;
    if (intercept(m) || IsDialogMessageW(dialog_, &m)) continue;
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  const Queued next = events_.front();
  events_.pop_front();
  if (next.event == event::Timer) timerQueued_ = false;
  if (next.event == event::AlertKey) keyCode_ = next.key;
  if (next.event == event::CloseWindow) closeDelivered_ = true;
  event_ = next.event;
  field_ = next.control;
  return true;
}

// Keys that the window takes before any control sees them: the alert keys (an
// edit would take Ctrl+K for itself, a list would search for the letter) and
// the keys that step through the tabs.
bool Win32Window::intercept(const MSG& m) {
  if (m.message != WM_KEYDOWN && m.message != WM_SYSKEYDOWN) return false;
  if (m.hwnd != dialog_ && !IsChild(dialog_, m.hwnd)) return false;
  const bool ctrl = GetKeyState(VK_CONTROL) < 0;
  const bool alt = GetKeyState(VK_MENU) < 0;
  const bool shift = GetKeyState(VK_SHIFT) < 0;
  const auto vk = static_cast<int>(m.wParam);
  if (ctrl && !alt && (vk == VK_TAB || vk == VK_NEXT || vk == VK_PRIOR)) {
    stepTab(vk == VK_TAB ? !shift : vk == VK_NEXT);
    return true;
  }
  if (shift || !((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9'))) return false;
  const int code = vk | (ctrl ? key::Ctrl : 0) | (alt ? key::Alt : 0);
  if (!isAlertKey(code)) return false;
  if (open_) queue(event::AlertKey, 0, code);
  return true;
}

void Win32Window::queue(int event, int control, int key) {
  if (event == event::Timer) timerQueued_ = true;
  events_.push_back({event, control, key});
}

void Win32Window::post(int event) {
  queue(event, 0);
}

// A tick while a message box is open, or while one waits, is dropped: the
// capture never runs inside itself and never catches up in a burst.
void Win32Window::tick() {
  if (!open_ || messageOpen_ || timerQueued_) return;
  queue(event::Timer, 0);
}

bool Win32Window::isAlertKey(int keyCode) const {
  return keyCode != 0 &&
         std::ranges::find(definition_.alertKeys, keyCode) != definition_.alertKeys.end();
}

INT_PTR Win32Window::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      command(LOWORD(wParam), HIWORD(wParam));
      return TRUE;
    case WM_NOTIFY:
      return notify(*reinterpret_cast<const NMHDR*>(lParam));
    case WM_DRAWITEM:
      return drawItem(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)) ? TRUE : FALSE;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      Control* c = byWindow(reinterpret_cast<HWND>(lParam));
      if (c == nullptr || c->background == nullptr) return FALSE;
      SetBkColor(reinterpret_cast<HDC>(wParam), c->colour);
      return reinterpret_cast<INT_PTR>(c->background);
    }
    case WM_TIMER:
      if (wParam == kTimerId) tick();
      return TRUE;
    case WM_ACTIVATE:
      if (LOWORD(wParam) != WA_INACTIVE && open_) queue(event::GainFocus, 0);
      return FALSE;  // the dialog manager restores the focus
    case WM_SIZE:
      if (wParam == SIZE_MINIMIZED) {
        minimised_ = true;
      } else if (wParam == SIZE_RESTORED && minimised_) {
        minimised_ = false;
        if (open_) queue(event::Redisplay, 0);
      }
      return FALSE;
    case WM_CLOSE:
      // The procedure decides: its loop ends on the event and then closes the window.
      if (open_) queue(event::CloseWindow, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

void Win32Window::command(int id, int code) {
  if (id == IDOK) {
    // Enter in an edit accepts its text there and then.
    if (Control* c = byWindow(GetFocus()); c != nullptr && c->def->kind == ControlKind::Entry)
      commit(*c);
    return;
  }
  Control* c = byItem(id);
  if (c == nullptr) return;
  switch (c->def->kind) {
    case ControlKind::Entry:
      if (code == EN_SETFOCUS && open_) queue(event::Selected, c->def->number);
      // Leaving the edit for another control of this window accepts its text;
      // the window losing the activation does not.
      if (code == EN_KILLFOCUS) {
        HWND to = GetFocus();
        if (to != nullptr && (to == dialog_ || IsChild(dialog_, to)) && !commit(*c))
          refusedBy_ = to;
      }
      break;
    case ControlKind::List:
      if (code == CBN_SETFOCUS && open_) queue(event::Selected, c->def->number);
      if (code == CBN_SELENDOK ||
          (code == CBN_SELCHANGE && SendMessageW(c->hwnd, CB_GETDROPPEDSTATE, 0, 0) == FALSE))
        chosen(*c);
      break;
    case ControlKind::Button:
      if (code == BN_SETFOCUS && open_) queue(event::Selected, c->def->number);
      // An access key moves the focus to its button before pressing it: a
      // refusal on the way there drops the press, as a pending edit's does.
      if (code == BN_CLICKED && refusedBy_ != c->hwnd) pressed(c->def->number);
      break;
    default:
      break;
  }
}

INT_PTR Win32Window::notify(const NMHDR& header) {
  Control* sheet = byItem(static_cast<int>(header.idFrom));
  if (sheet == nullptr || sheet->def->kind != ControlKind::Sheet) return FALSE;
  if (header.code == TCN_SELCHANGING) {
    // A tab control has no disabled tabs of its own: the change to one is refused here.
    DWORD pos = GetMessagePos();
    TCHITTESTINFO hit{{static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))}, 0};
    ScreenToClient(sheet->hwnd, &hit.pt);
    const auto target =
        static_cast<int>(SendMessageW(sheet->hwnd, TCM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit)));
    bool refuse = false;
    for (const Control& c : controls_)
      if (c.def->kind == ControlKind::Tab && c.def->container == sheet->def->number &&
          c.tabIndex == target && !c.enabled)
        refuse = true;
    SetWindowLongPtrW(dialog_, DWLP_MSGRESULT, refuse ? TRUE : FALSE);
    return TRUE;
  }
  if (header.code == TCN_SELCHANGE) {
    const auto index = static_cast<int>(SendMessageW(sheet->hwnd, TCM_GETCURSEL, 0, 0));
    for (Control& c : controls_) {
      if (c.def->kind != ControlKind::Tab || c.def->container != sheet->def->number ||
          c.tabIndex != index)
        continue;
      if (c.enabled) {
        showTab(c, true);
      } else if (Control* shown = find(sheet->shownTab)) {
        // Keys that the hit test does not see (the arrows on the tab bar) land here.
        SendMessageW(sheet->hwnd, TCM_SETCURSEL, static_cast<WPARAM>(shown->tabIndex), 0);
      }
    }
    return TRUE;
  }
  return FALSE;
}

LRESULT CALLBACK Win32Window::sheetProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                        UINT_PTR, DWORD_PTR self) {
  if (message == WM_SETFOCUS) {
    auto* w = reinterpret_cast<Win32Window*>(self);
    if (w->open_)
      if (Control* c = w->byWindow(hwnd)) w->queue(event::Selected, c->def->number);
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

bool Win32Window::drawItem(const DRAWITEMSTRUCT& item) {
  Control* c = byItem(static_cast<int>(item.CtlID));
  if (c == nullptr) return false;
  HDC dc = item.hDC;
  RECT r = item.rcItem;
  SetBkMode(dc, TRANSPARENT);
  if (item.CtlType == ODT_TAB) {
    bool enabled = true;
    std::wstring title;
    for (const Control& t : controls_)
      if (t.def->kind == ControlKind::Tab && t.def->container == c->def->number &&
          t.tabIndex == static_cast<int>(item.itemID)) {
        enabled = t.enabled;
        title = wide(t.def->text);
      }
    SetTextColor(dc, GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    DrawTextW(dc, title.c_str(), static_cast<int>(title.size()), &r,
              DT_SINGLELINE | DT_CENTER | DT_VCENTER);
    return true;
  }
  if (item.CtlType != ODT_COMBOBOX) return false;
  std::wstring text;
  if (item.itemID == static_cast<UINT>(-1)) {
    text = c->placeholder;
  } else {
    const LRESULT n = SendMessageW(c->hwnd, CB_GETLBTEXTLEN, item.itemID, 0);
    text.assign(static_cast<std::size_t>(std::max<LRESULT>(n, 0)) + 1, L'\0');
    const LRESULT got =
        SendMessageW(c->hwnd, CB_GETLBTEXT, item.itemID, reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<std::size_t>(std::max<LRESULT>(got, 0)));
  }
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  const bool disabled = (item.itemState & ODS_DISABLED) != 0;
  FillRect(dc, &r, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  SetTextColor(dc, GetSysColor(disabled   ? COLOR_GRAYTEXT
                               : selected ? COLOR_HIGHLIGHTTEXT
                                          : COLOR_WINDOWTEXT));
  RECT inset = r;
  inset.left += 2;
  inset.right -= 2;
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &inset,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  if ((item.itemState & ODS_FOCUS) != 0 && (item.itemState & ODS_NOFOCUSRECT) == 0)
    DrawFocusRect(dc, &r);
  return true;
}

void Win32Window::focus(HWND hwnd) {
  if (hwnd != nullptr) SendMessageW(dialog_, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(hwnd), TRUE);
}

void Win32Window::enable(int control) {
  Control* c = find(control);
  if (c == nullptr) return;
  if (c->def->kind == ControlKind::Tab) {
    c->enabled = true;
    InvalidateRect(sheetOf(*c)->hwnd, nullptr, TRUE);
  } else {
    EnableWindow(c->hwnd, TRUE);
  }
}

void Win32Window::select(int control) {
  Control* c = find(control);
  while (c != nullptr && c->def->kind == ControlKind::Prompt) c = find(c->def->number + 1);
  if (c == nullptr) return;
  if (c->def->kind == ControlKind::Tab) {
    if (c->enabled) showTab(*c, true);
    return;
  }
  if (c->def->kind == ControlKind::Sheet) {
    focus(c->hwnd);
    return;
  }
  // A control on another tab brings its tab forward, unless that tab is disabled.
  if (c->tab != 0) {
    Control* tab = find(c->tab);
    if (!tab->enabled) return;
    showTab(*tab, true);
  }
  focus(c->hwnd);
  if (c->def->kind == ControlKind::Entry) SendMessageW(c->hwnd, EM_SETSEL, 0, -1);
}

void Win32Window::display() {
  for (Control& c : controls_)
    if (c.field) display(c.def->number);
}

void Win32Window::display(int control) {
  Control* c = find(control);
  if (c == nullptr || !c->field || c->hwnd == nullptr) return;
  if (c->def->kind == ControlKind::Entry) {
    // An edit in progress stays; it is stored when the user leaves the control.
    if (GetFocus() == c->hwnd && SendMessageW(c->hwnd, EM_GETMODIFY, 0, 0) != FALSE) return;
    const std::wstring shown = fromBytes(c->picture->format(*c->field));
    // A number wider than its picture is shown whole; typing stays limited.
    const int limit = std::max(c->picture->width, static_cast<int>(shown.size()));
    if (c->limit != limit) {
      SendMessageW(c->hwnd, EM_SETLIMITTEXT, static_cast<WPARAM>(limit), 0);
      c->limit = limit;
    }
    // Only a changed text is set again, so that a selection survives a redisplay.
    if (windowText(c->hwnd) != shown) SetWindowTextW(c->hwnd, shown.c_str());
    SendMessageW(c->hwnd, EM_SETMODIFY, FALSE, 0);
  } else if (c->def->kind == ControlKind::List) {
    const std::string_view value = (*std::get_if<Text*>(&*c->field))->view();
    int index = -1;
    const std::vector<std::wstring> entries = listEntries(c->def->entries);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const std::optional<std::string> entry = toBytes(entries[i]);
      if (entry && sameName(*entry, value)) index = static_cast<int>(i);
    }
    // A text that is none of the entries shows as it stands, with no entry chosen.
    c->placeholder = index < 0 ? fromBytes(value) : std::wstring();
    SendMessageW(c->hwnd, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    InvalidateRect(c->hwnd, nullptr, FALSE);
  }
}

bool Win32Window::commit(Control& c) {
  if (c.def->kind != ControlKind::Entry || c.def->readOnly) return true;
  if (SendMessageW(c.hwnd, EM_GETMODIFY, 0, 0) == FALSE) return true;
  SendMessageW(c.hwnd, EM_SETMODIFY, FALSE, 0);
  const std::optional<std::string> bytes = toBytes(windowText(c.hwnd));
  if (!bytes || !c.picture->store(*bytes, *c.field)) {
    queue(event::Rejected, c.def->number);
    return false;
  }
  display(c.def->number);
  return true;
}

bool Win32Window::commitAll() {
  bool all = true;
  for (Control& c : controls_)
    if (c.def->kind == ControlKind::Entry && !commit(c)) all = false;
  return all;
}

// An access key presses the button without moving the focus, so a change still
// in its control is accepted here, before the press is handled.
void Win32Window::pressed(int button) {
  if (!open_) return;
  if (commitAll()) queue(event::Accepted, button);
}

void Win32Window::chosen(Control& list) {
  const LRESULT index = SendMessageW(list.hwnd, CB_GETCURSEL, 0, 0);
  if (index < 0) return;
  const std::vector<std::wstring> entries = listEntries(list.def->entries);
  if (static_cast<std::size_t>(index) >= entries.size()) return;
  const std::optional<std::string> entry = toBytes(entries[static_cast<std::size_t>(index)]);
  if (!entry) return;
  (*std::get_if<Text*>(&*list.field))->assign(*entry);
  list.placeholder.clear();
}

void Win32Window::beep() {
  MessageBeep(MB_OK);
}

std::int32_t Win32Window::nativeHandle() const {
  const auto id = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(dialog_));
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(id & 0xFFFF'FFFFu));
}

void Win32Window::message(std::string_view text, std::string_view caption, MessageIcon icon) {
  const std::wstring t = fromBytes(text);
  const std::wstring c = fromBytes(caption);
  messageOpen_ = true;
  MessageBoxW(
      open_ ? dialog_ : nullptr, t.c_str(), c.c_str(),
      static_cast<UINT>(MB_OK | (icon == MessageIcon::Stop ? MB_ICONSTOP : MB_ICONEXCLAMATION)));
  messageOpen_ = false;
}

}  // namespace quorvel
