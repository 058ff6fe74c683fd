// The parent's console control handler: an interrupted, closed or ending
// session still gets its clean-up; a console app's own Ctrl+C stays its own.
#include "launcher/console_handler.h"

#include <windows.h>

#include "launcher/child_supervision.h"
#include "launcher/windowed.h"

namespace {

// Ctrl+C and Ctrl+Break reach a console launcher's app through the console
// they share. The app decides what they mean, as it would without the
// launcher: a REPL goes on, a tool ends (with STATUS_CONTROL_C_EXIT when the
// event ended it), and the launcher keeps waiting for it. Before the app
// runs, while unpacking, and in the windowed kind, which shares no console
// with its app, the event ends the run.
bool interruption_is_the_apps() { return !windowed_program() && child_has_started(); }

}  // namespace

BOOL WINAPI console_ctrl_handler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      if (interruption_is_the_apps()) return TRUE;
      end_interrupted_run(kInterruptionGraceMs);
      break;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      end_interrupted_run(kSessionEndGraceMs);
      break;
    default:
      break;
  }
  return FALSE;
}
