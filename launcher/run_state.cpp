// The run's state of each role (launcher/run_state.h).
#include "launcher/run_state.h"

ParentRun g_parent;
ChildRun g_child;

void wait_for_the_ending() {
  for (;;) Sleep(INFINITE);
}
