// The hidden window that brings log-off and shut-down to a parent that gets
// no console events.
#pragma once

// Starts a thread with a hidden top-level window that ends the run on
// WM_ENDSESSION, which a process without console events (or with user32
// loaded) gets at log-off and shut-down. A failure leaves the app running
// without it.
void start_session_end_window();
