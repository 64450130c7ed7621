#pragma once
// The main window of the capture procedure, as data: its attributes and its 22
// controls. The procedure refers to controls by these numbers.
#include <string_view>

#include "platform/window_definition.hpp"

namespace quorvel {

// Used as control::GRAVAR, apart from the routines of the same names.
namespace control {
enum : int {
  SHEET1 = 1,
  TAB1 = 2,
  V_NOME_CPD_PROMPT = 3,
  V_NOME_CPD = 4,
  V_BUFFER_PROMPT = 5,
  V_BUFFER = 6,
  V_PESO_PROMPT = 7,
  V_PESO = 8,
  V_TAM = 9,
  CLOSE = 10,
  CONFIGURACAO = 11,
  V_PASTA_PROMPT = 12,
  V_PASTA = 13,
  V_BALANCA_PROMPT = 14,
  V_BALANCA = 15,
  V_PORTA_PROMPT = 16,
  V_PORTA = 17,
  V_VELOCIDADE_PROMPT = 18,
  V_VELOCIDADE = 19,
  V_DIVISOR_PROMPT = 20,
  V_DIVISOR = 21,
  GRAVAR = 22,
};
}  // namespace control

inline constexpr std::string_view kProgramKey = "quorvel$quorv001";
inline constexpr std::string_view kMainWindowName = "P1$QUICKWINDOW";

// The definition stored under `key` with the window name `name`; null when there is none.
const WindowDefinition* findWindowDefinition(std::string_view key, std::string_view name);

}  // namespace quorvel
