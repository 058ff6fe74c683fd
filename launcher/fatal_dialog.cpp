// The message box of a windowed launcher's fatal stops. The reporters have
// deleted the target folder and printed the message when it is called.
#include "launcher/fatal_dialog.h"

#include <stdlib.h>
#include <windows.h>

#include "diag/fail.h"
#include "launcher/message_box.h"
#include "launcher/progress_window.h"
#include "launcher/run_state.h"

namespace {

void show_fatal_dialog(const FatalMessage& message) {
  // Ctrl+C or the end of the session: no one waits for an answer.
  if (g_parent.interrupted) return;
  close_progress_window();
  show_message_box(message);
}

}  // namespace

void enable_fatal_dialogs() {
  // The system's runtime shows a windowed program's abort text in a box of
  // its own, before the SIGABRT handler's clean-up (Wine's writes it to the
  // console).
  _set_error_mode(_OUT_TO_STDERR);
  g_show_fatal_message = show_fatal_dialog;
}
