#pragma once
// The capture step, run on every timer tick: drains the bytes the scale has sent
// into lines, takes the weight from the last complete line by the rule of the
// brand V_BALANCA, redisplays the window and, while the weight is positive,
// writes "Ativo" and "Peso" into the section "Pesagem.<computer name>" of the
// hand-off file V_PASTA\quorvel.txt. Does nothing while the port is closed.
//
// A run reads at most the bytes that the waiting-byte query reported when it
// began (at most 1 MiB; a count that is negative as a 32-bit number stands for
// that most), so a scale that sends faster than the run reads cannot hold it:
// what comes meanwhile waits for the next tick. It redisplays once, after the
// weight, however many lines it completed.
//
// A brand without a rule brings an "Aviso" message box on every run and sets
// V_ERRO to 1; the weight then keeps its last value. A failed hand-off write is
// not reported; the next run writes again.
#include "capture/state/state.hpp"
#include "platform/serial_library.hpp"
#include "platform/window_runtime.hpp"

namespace quorvel {

void CAPTURA_PESO(CaptureState& s, SerialLibrary& serial, WindowRuntime& window);

}  // namespace quorvel
