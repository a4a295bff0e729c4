// Closing the window while a job runs: the job stops after the files in progress, and the
// window stays, saying so, until they are written.
#pragma once

struct AppState;

struct WindowClosing {
  bool waiting = false;  // a quit came during a job; the program ends once the job has
};

// A quit was asked, from the window or the window system. Asks a running job to stop; true
// when the program may end now, false when it must wait for the job's end.
bool begin_close(AppState& app, WindowClosing& closing);

// Every frame while waiting: the "Finishing the file in progress..." notice over the window,
// which takes no input. True once the job has ended.
bool draw_closing_notice(const AppState& app);
