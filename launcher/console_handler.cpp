// The parent's console control handler: an interrupted, closed or ending
// session still gets its clean-up.
#include <windows.h>

#include "launcher/launcher.h"
#include "payload/unpack.h"

BOOL WINAPI console_ctrl_handler(DWORD event) {
  switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      end_interrupted_run();
      break;
    default:
      break;
  }
  return FALSE;
}
