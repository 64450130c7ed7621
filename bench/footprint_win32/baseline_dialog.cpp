// The least a Win32 program with a dialog can do: one dialog built in memory,
// in the font that Quorvel uses, with a line of text and an OK button. The
// footprint script compares Quorvel's start-up against this one.
#include <windows.h>

#include <cstddef>
#include <cstring>
#include <cwchar>
#include <initializer_list>

namespace {

// A dialog template is a packed sequence of WORD-aligned records; the items
// start on DWORD boundaries.
class Template {
 public:
  void word(WORD w) { append(&w, sizeof w); }
  void dword(DWORD d) { append(&d, sizeof d); }
  void text(const wchar_t* s) { append(s, (std::wcslen(s) + 1) * sizeof(wchar_t)); }
  void alignDword() {
    while (size_ % 4 != 0) bytes_[size_++] = 0;
  }
  void item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD cls,
            const wchar_t* caption) {
    alignDword();
    dword(style | WS_CHILD | WS_VISIBLE);
    dword(0);
    for (short v : {x, y, cx, cy}) word(static_cast<WORD>(v));
    word(id);
    word(0xFFFF);
    word(cls);
    text(caption);
    word(0);
  }
  const DLGTEMPLATE* get() const { return reinterpret_cast<const DLGTEMPLATE*>(bytes_); }

 private:
  void append(const void* p, std::size_t n) {
    std::memcpy(bytes_ + size_, p, n);
    size_ += n;
  }
  alignas(4) unsigned char bytes_[1024] = {};
  std::size_t size_ = 0;
};

INT_PTR CALLBACK dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, 0);
    return TRUE;
  }
  return message == WM_INITDIALOG;
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  Template t;
  t.dword(DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE);
  t.dword(0);
  t.word(2);                                                            // items
  for (WORD v : std::initializer_list<WORD>{0, 0, 160, 60}) t.word(v);  // place and size
  t.word(0);                                                            // no menu
  t.word(0);                                                            // the standard dialog class
  t.text(L"Footprint baseline");
  t.word(8);
  t.text(L"MS Sans Serif");
  t.item(SS_LEFT, 10, 10, 140, 10, 100, 0x0082, L"A minimal Win32 dialog.");
  t.item(BS_DEFPUSHBUTTON | WS_TABSTOP, 55, 36, 50, 14, IDOK, 0x0080, L"OK");
  return static_cast<int>(DialogBoxIndirectParamW(instance, t.get(), nullptr, dialogProc, 0));
}
