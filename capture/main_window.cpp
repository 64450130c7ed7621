#include "capture/main_window.hpp"

#include <array>
#include <optional>

#include "platform/window_runtime.hpp"

namespace quorvel {
namespace {

using K = ControlKind;
constexpr bool RO = true;   // read-only
constexpr bool IN = false;  // takes input
constexpr bool OFF = true;  // disabled when the window opens
constexpr bool ON = false;
constexpr std::optional<std::uint32_t> GREY = 0xC0C0C0;
constexpr std::optional<std::uint32_t> PLAIN = std::nullopt;
constexpr Justify LEFT = Justify::Left, RIGHT = Justify::Right, CENTRE = Justify::Center;

// clang-format off
constexpr std::array<ControlDef, 22> kControls{{
// No. Name                    Kind       On  Text            Picture  x    y    w      h      Input State Colour Tooltip       Entries                  Rows Justify
  {1,  "?SHEET1",              K::Sheet,  0,  "",             "",      5,   3,   267,   129},
  {2,  "?TAB1",                K::Tab,    1,  "Captura Peso", "",      0,   0,   0,     0},
  {3,  "?V:NOME_CPD:PROMPT",   K::Prompt, 2,  "Computador:",  "",      13,  26,  kAuto, kAuto},
  {4,  "?V:NOME_CPD",          K::Entry,  2,  "",             "s50",   63,  25,  kAuto, 12,    RO,   ON,   GREY,  "Computador"},
  {5,  "?V:BUFFER:PROMPT",     K::Prompt, 2,  "Buffer:",      "",      13,  44,  kAuto, kAuto},
  {6,  "?V:BUFFER",            K::Entry,  2,  "",             "s254",  63,  43,  184,   12,    RO,   ON,   GREY,  ""},
  {7,  "?V:PESO:PROMPT",       K::Prompt, 2,  "Peso:",        "",      13,  62,  kAuto, kAuto},
  {8,  "?V:PESO",              K::Entry,  2,  "",             "n15`3", 63,  61,  60,    12,    RO,   ON,   GREY,  "",           "",                      0,   RIGHT},
  {9,  "?V:TAM",               K::Entry,  2,  "",             "n2",    251, 43,  kAuto, 12,    RO,   ON,   GREY,  "",           "",                      0,   CENTRE},
  {10, "?CLOSE",               K::Button, 2,  "&Fechar",      "",      217, 110, 50,    17},
  {11, "?CONFIGURACAO",        K::Tab,    1,  "Configuração", "",      0,   0,   0,     0,     IN,   OFF},
  {12, "?V:PASTA:PROMPT",      K::Prompt, 11, "Pasta:",       "",      13,  25,  kAuto, kAuto},
  {13, "?V:PASTA",             K::Entry,  11, "",             "s254",  67,  24,  196,   12,    IN,   ON,   PLAIN, "Pasta"},
  {14, "?V:BALANCA:PROMPT",    K::Prompt, 11, "Balança:",     "",      13,  42,  kAuto, kAuto},
  {15, "?V:BALANCA",           K::List,   11, "",             "",      67,  41,  kAuto, 12,    IN,   ON,   PLAIN, "Balanca",    "Precision|DIG|FIL|TOL", 6,   LEFT},
  {16, "?V:PORTA:PROMPT",      K::Prompt, 11, "Porta COM:",   "",      13,  58,  kAuto, kAuto},
  {17, "?V:PORTA",             K::Entry,  11, "",             "n1",    67,  57,  kAuto, 12,    IN,   ON,   PLAIN, "Porta",      "",                      0,   CENTRE},
  {18, "?V:VELOCIDADE:PROMPT", K::Prompt, 11, "Velocidade:",  "",      13,  74,  kAuto, kAuto},
  {19, "?V:VELOCIDADE",        K::Entry,  11, "",             "n4",    67,  73,  kAuto, 12,    IN,   ON,   PLAIN, "Velocidade", "",                      0,   CENTRE},
  {20, "?V:DIVISOR:PROMPT",    K::Prompt, 11, "Divisor:",     "",      13,  91,  kAuto, kAuto},
  {21, "?V:DIVISOR",           K::Entry,  11, "",             "n4",    67,  90,  38,    12,    IN,   ON,   PLAIN, "Divisor",    "",                      0,   RIGHT},
  {22, "?GRAVAR",              K::Button, 11, "&Gravar",      "",      215, 109, 50,    17},
}};
// clang-format on

constexpr std::array<int, 1> kAlertKeys{key::CtrlK};

constexpr WindowDefinition kMainWindow{
    .key = kProgramKey,
    .name = kMainWindowName,
    .caption = "Quorvel 1.1",
    .width = 276,
    .height = 135,
    .font = "MS Sans Serif",
    .fontPoints = 8,
    .icon = "QUORVEL_ICO",
    .timerHundredths = 50,
    .alertKeys = kAlertKeys,
    .controls = kControls,
};

bool sameKey(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

const WindowDefinition* findWindowDefinition(std::string_view key, std::string_view name) {
  // Module keys and window names are looked up without regard to letter case.
  if (sameKey(key, kMainWindow.key) && sameKey(name, kMainWindow.name)) return &kMainWindow;
  return nullptr;
}

}  // namespace quorvel
