// The window a windowed launcher shows while it starts: a progress window
// while a first start unpacks, or the packed splash image.
#pragma once

#include <windows.h>

// The window classes, for tests that look for them.
inline constexpr wchar_t kProgressWindowClass[] = L"VorlanOnefileProgress";
inline constexpr wchar_t kSplashWindowClass[] = L"VorlanOnefileSplash";

// Parent role of a windowed launcher, at the start of the run (nothing with
// VORLAN_ONEFILE_NO_DIALOGS set, and the window's thread shows nothing in a
// window station no one sees). With a packed splash image its thread starts
// now and the image shows at once; without, the thread starts when unpacking
// does, and a progress window shows once unpacking has run for 0.5 s. It
// closes when the child has shown a visible top-level window, or 10 s after
// unpacking ended, or on close_progress_window, an interruption or the
// end of the session.
void start_progress_window();

// Unpacking has started (its progress is read from the payload reader).
void progress_unpacking_started();

// Unpacking has ended (or there was none) and the child is about to start:
// waits while the window is being made, so that the two never overlap.
void progress_unpacking_ended();

// The child `pid` runs: its first visible window closes the window.
void progress_child_started(DWORD pid);

// Closes the window (the app has ended, or a fatal stop) and waits for its
// thread to end, briefly.
void close_progress_window();
