#pragma once
// The capture state record: everything the capture procedure works on. Exactly
// one instance lives from the procedure's start to its return; every routine
// works on it by reference, and the window keeps references to nine of its
// fields, so it is neither copied nor moved.
#include <cstdint>

#include "decimal.hpp"
#include "text.hpp"

namespace quorvel {

class WindowRuntime;

struct CaptureState {
  CaptureState() = default;
  CaptureState(const CaptureState&) = delete;
  CaptureState& operator=(const CaptureState&) = delete;

  std::int32_t V_DIVISOR = 10;    // divisor of the raw "Precision" reading
  std::uint32_t V_TAM = 0;        // name length after the query, then the line length
  Text V_NOME_CPD{51};            // computer name; names the hand-off section
  Decimal V_PESO;                 // current weight
  Text STRLEITURA{255};           // line being assembled
  Text V_BUFFER{255};             // last complete line
  std::int16_t RETCODE = 0;       // last read result
  std::uint8_t RETCHR = 0;        // its low byte
  std::uint8_t COMPORT = 0;       // zero-based port index, V_PORTA - 1
  std::int32_t WHANDLE = 0;       // window handle the port was claimed with
  std::int32_t V_ERRO = 0;        // failure status; non-zero stops the port opening
  std::uint8_t FLAG_ABERTA = 0;   // 1 while the port is claimed and initialised
  Text V_PASTA{255};              // hand-off folder
  Text V_BALANCA{30};             // scale brand
  std::uint8_t V_PORTA = 0;       // COM port number, 0 for none
  std::int32_t V_VELOCIDADE = 0;  // line speed in bits per second
  std::int32_t WINDOWOPENED = 0;
  std::int32_t WINDOWINITIALIZED = 0;
  WindowRuntime* QUICKWINDOW = nullptr;  // the main window; owned by the procedure
};

}  // namespace quorvel
