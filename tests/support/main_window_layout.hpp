// The main window's layout as it must come out, kept apart from the definition
// that builds it (capture/main_window.cpp), so that a slip in either shows. The
// window tests of both runtimes check their widgets against this one table.
#pragma once

#include <cstdlib>

namespace quorvel::main_window_layout {

enum class Kind { Sheet, Tab, Prompt, Entry, List, Button };

// A width or height that follows from the text, the picture or the entries.
constexpr int kAutoSize = -1;

struct Control {
  int number;
  const char* name;  // UTF-8, like every text here
  Kind kind;
  int on;  // 0 the window, 1 the sheet, else the tab
  const char* text;
  const char* picture;
  int x, y, w, h;  // dialog units, counted from the window's client area
  bool readOnly;
  const char* tooltip;
};

// Short names for the table only.
constexpr int A = kAutoSize;
constexpr bool RO = true;

// clang-format off
inline constexpr Control kControls[] = {
  {1,  "?SHEET1",              Kind::Sheet,  0,  "",             "",      5,   3,   267, 129, false, ""},
  {2,  "?TAB1",                Kind::Tab,    1,  "Captura Peso", "",      0,   0,   0,   0,   false, ""},
  {3,  "?V:NOME_CPD:PROMPT",   Kind::Prompt, 2,  "Computador:",  "",      13,  26,  A,   A,   false, ""},
  {4,  "?V:NOME_CPD",          Kind::Entry,  2,  "",             "s50",   63,  25,  A,   12,  RO,    "Computador"},
  {5,  "?V:BUFFER:PROMPT",     Kind::Prompt, 2,  "Buffer:",      "",      13,  44,  A,   A,   false, ""},
  {6,  "?V:BUFFER",            Kind::Entry,  2,  "",             "s254",  63,  43,  184, 12,  RO,    ""},
  {7,  "?V:PESO:PROMPT",       Kind::Prompt, 2,  "Peso:",        "",      13,  62,  A,   A,   false, ""},
  {8,  "?V:PESO",              Kind::Entry,  2,  "",             "n15`3", 63,  61,  60,  12,  RO,    ""},
  {9,  "?V:TAM",               Kind::Entry,  2,  "",             "n2",    251, 43,  A,   12,  RO,    ""},
  {10, "?CLOSE",               Kind::Button, 2,  "&Fechar",      "",      217, 110, 50,  17,  false, ""},
  {11, "?CONFIGURACAO",        Kind::Tab,    1,  "Configuração", "",      0,   0,   0,   0,   false, ""},
  {12, "?V:PASTA:PROMPT",      Kind::Prompt, 11, "Pasta:",       "",      13,  25,  A,   A,   false, ""},
  {13, "?V:PASTA",             Kind::Entry,  11, "",             "s254",  67,  24,  196, 12,  false, "Pasta"},
  {14, "?V:BALANCA:PROMPT",    Kind::Prompt, 11, "Balança:",     "",      13,  42,  A,   A,   false, ""},
  {15, "?V:BALANCA",           Kind::List,   11, "",             "",      67,  41,  A,   12,  false, "Balanca"},
  {16, "?V:PORTA:PROMPT",      Kind::Prompt, 11, "Porta COM:",   "",      13,  58,  A,   A,   false, ""},
  {17, "?V:PORTA",             Kind::Entry,  11, "",             "n1",    67,  57,  A,   12,  false, "Porta"},
  {18, "?V:VELOCIDADE:PROMPT", Kind::Prompt, 11, "Velocidade:",  "",      13,  74,  A,   A,   false, ""},
  {19, "?V:VELOCIDADE",        Kind::Entry,  11, "",             "n4",    67,  73,  A,   12,  false, "Velocidade"},
  {20, "?V:DIVISOR:PROMPT",    Kind::Prompt, 11, "Divisor:",     "",      13,  91,  A,   A,   false, ""},
  {21, "?V:DIVISOR",           Kind::Entry,  11, "",             "n4",    67,  90,  38,  12,  false, "Divisor"},
  {22, "?GRAVAR",              Kind::Button, 11, "&Gravar",      "",      215, 109, 50,  17,  false, ""},
};
// clang-format on

// Characters that a picture holds: the digits after its kind letter.
inline int pictureChars(const char* picture) {
  return std::atoi(picture + 1);
}

}  // namespace quorvel::main_window_layout
