// quorvel: reads the weight from a scale on a serial port and hands it to other
// software through a shared INI file.
#include <QApplication>
#include <cstdio>
#include <cstdlib>

#include "capture/procedure.hpp"
#include "platform/host.hpp"
#include "platform/system_serial.hpp"
#include "platform/window/qt_window.hpp"
#include "shell/program.hpp"

namespace {

bool started = false;
QString startupWarning;  // the last one, which tells why a start failed

// Qt ends the process on a fatal message, such as a display it cannot reach.
// Before the window runs, say so in one line and fail, rather than abort.
void startupMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (!started) {
    if (type == QtWarningMsg || type == QtCriticalMsg) startupWarning = message;
    if (type != QtFatalMsg) return;
    const QString why = startupWarning.isEmpty() ? message : startupWarning;
    std::fprintf(stderr, "quorvel: cannot start the window system: %s\n",
                 why.section('\n', 0, 0).toLocal8Bit().constData());
    std::_Exit(2);
  }
  if (type != QtDebugMsg && type != QtInfoMsg)
    std::fprintf(stderr, "quorvel: %s\n", message.toLocal8Bit().constData());
}

bool displayConfigured() {
  const auto set = [](const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0';
  };
  return set("QT_QPA_PLATFORM") || set("DISPLAY") || set("WAYLAND_DISPLAY");
}

}  // namespace

int main(int argc, char** argv) {
  if (!displayConfigured()) {
    std::fprintf(stderr, "quorvel: no display: DISPLAY and WAYLAND_DISPLAY are not set\n");
    return 2;
  }
  qInstallMessageHandler(startupMessages);
  // The program takes no arguments, and Qt must not act on any of its own
  // (-platform, -reverse, -style...): it sees the program's name alone.
  static char fallbackName[] = "quorvel";
  int qtArgc = 1;
  char* qtArgv[] = {argc > 0 && argv[0] != nullptr ? argv[0] : fallbackName, nullptr};
  QApplication app(qtArgc, qtArgv);
  started = true;

  const auto serial = quorvel::systemSerial();
  quorvel::QtWindowFactory windows;
  quorvel::SystemDesktopSettings desktop;
  quorvel::Services services{*serial, windows, quorvel::GetComputerNameA};

  bool ran = false;
  quorvel::runProgramBody(desktop, [&] { ran = quorvel::MAIN(services); });
  if (!ran) {
    std::fprintf(stderr, "quorvel: the main window could not be built\n");
    return 1;
  }
  return 0;
}
