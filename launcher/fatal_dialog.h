// A windowed launcher's fatal stops, shown to the person.
#pragma once

// From now on a fatal stop shows its message in a box (launcher/message_box.h)
// unless a log-off or an interruption is ending the run; the progress window
// goes first. Also makes the runtime's abort write its text to standard
// error rather than a box of its own, which would come before the clean-up.
void enable_fatal_dialogs();
