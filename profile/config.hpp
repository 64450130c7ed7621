#pragma once
// The configuration file "quorvel.ini": section "Configuração", five entries
// read into and written from the capture state record.
#include <cstdint>
#include <string_view>

#include "capture/state/state.hpp"

namespace quorvel {

// Five reads in the order Pasta, Balança, Porta, Velocidade, Divisor; a missing
// file or entry gives "", "", 0, 0 and 10. Texts keep what fits their field;
// the port keeps the low 8 bits of its number (257 -> 1, -1 -> 255). Creates
// nothing and reports nothing.
void LER_CONFIGURACAO(CaptureState& s);

// Creates the configuration folder when it is missing, then five writes in the
// same order, every field on every call. Other sections and entries stay. A
// failed write is dropped.
void GRAVAR(const CaptureState& s);

// Text to a 32-bit integer; never fails. Leading blanks are skipped, then an
// optional sign and decimal digits, up to the first other character. The empty
// text or one without digits gives 0; a number beyond 32 bits is clamped to
// INT32_MIN..INT32_MAX.
std::int32_t profileInteger(std::string_view text);

}  // namespace quorvel
