#include "capture/procedure.hpp"

#include <array>

#include "capture/main_window.hpp"
#include "profile/config.hpp"
#include "scale/capture_step.hpp"
#include "scale/port.hpp"

namespace quorvel {
namespace {

// The procedure's routines, on the one record and the services.
class Procedure {
 public:
  Procedure(CaptureState& s, Services& services, WindowRuntime& window)
      : s_(s), services_(services), window_(window) {}

  void PREPAREPROCEDURE() {
    window_.open();
    s_.WINDOWOPENED = 1;
  }
  void REFRESHWINDOW() { window_.display(); }
  void INITIALIZEWINDOW() { REFRESHWINDOW(); }
  void PROCEDURERETURN() {
    if (s_.WINDOWOPENED == 1) window_.close();
  }

  void handle(int code, int control) {
    windowEvent(code);
    controlEvent(code, control);
  }

 private:
  void firstDisplay() {
    if (s_.WINDOWINITIALIZED != 0) return;
    INITIALIZEWINDOW();
    s_.WINDOWINITIALIZED = 1;
  }

  void openSequence() {
    firstDisplay();
    window_.select(control::V_NOME_CPD_PROMPT);
    s_.V_TAM = 20;
    if (services_.GetComputerNameA) services_.GetComputerNameA(s_.V_NOME_CPD, s_.V_TAM);
    LER_CONFIGURACAO(s_);
    window_.display();
    ABRIR_COM(s_, services_.serial, window_);
  }

  void windowEvent(int code) {
    switch (code) {
      case event::AlertKey:
        if (window_.keyCode() == key::CtrlK) window_.enable(control::CONFIGURACAO);
        break;
      case event::Redisplay:
        REFRESHWINDOW();
        break;
      case event::GainFocus:
        if (s_.WINDOWINITIALIZED == 0)
          firstDisplay();
        else
          REFRESHWINDOW();
        break;
      case event::OpenWindow:
        openSequence();
        break;
      case event::Timer:
        CAPTURA_PESO(s_, services_.serial, window_);
        break;
      case event::Rejected:
        window_.beep();
        window_.display(window_.field());
        window_.select(window_.field());
        break;
      default:
        break;
    }
  }

  void controlEvent(int code, int control) {
    switch (control) {
      case control::SHEET1:
        if (code == event::Accepted || code == event::NewSelection || code == event::TabChanging ||
            code == event::Selected)
          REFRESHWINDOW();
        break;
      case control::CLOSE:
        if (code == event::Accepted) window_.post(event::CloseWindow);
        break;
      case control::GRAVAR:
        if (code == event::Accepted) {
          GRAVAR(s_);
          FECHAR_COM(s_, services_.serial);
        }
        break;
      default:
        break;
    }
  }

  CaptureState& s_;
  Services& services_;
  WindowRuntime& window_;
};

}  // namespace

bool MAIN(Services& services) {
  CaptureState s;
  const WindowDefinition* definition = findWindowDefinition(kProgramKey, kMainWindowName);
  if (definition == nullptr) return false;
  const std::array<FieldRef, 9> fields{&s.V_NOME_CPD, &s.V_BUFFER,     &s.V_PESO,
                                       &s.V_TAM,      &s.V_PASTA,      &s.V_BALANCA,
                                       &s.V_PORTA,    &s.V_VELOCIDADE, &s.V_DIVISOR};
  std::unique_ptr<WindowRuntime> window = services.windows.build(*definition, fields);
  if (!window) return false;
  s.QUICKWINDOW = window.get();

  Procedure procedure(s, services, *window);
  procedure.PREPAREPROCEDURE();
  while (window->accept()) procedure.handle(window->event(), window->field());
  procedure.PROCEDURERETURN();

  s.QUICKWINDOW = nullptr;
  window.reset();
  return true;
}

}  // namespace quorvel
