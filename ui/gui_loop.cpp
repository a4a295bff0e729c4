// The GUI context on the main window, the frame loop and the GUI's shutdown.
#include "ui/gui_loop.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>
#include <imgui.h>

#include <cstdlib>
#include <mutex>
#include <utility>

#include "app/app_state.h"
#include "ui/fonts.h"
#include "ui/frame_pacer.h"
#include "ui/main_window.h"
#include "ui/probe_file.h"
#include "ui/sdl_window.h"
#include "ui/window_state.h"
#include "util/i18n.h"
#include "widgets/closing_notice.h"
#include "widgets/drop_target.h"
#include "widgets/glyph_demand.h"

namespace {

void reset_viewport(SDL_Window* window) {
  if (SDL_GetWindowFlags(window) & SDL_WINDOW_MINIMIZED) return;
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(window, &w, &h);
  if (w > 0 && h > 0) glViewport(0, 0, w, h);
}

// Where the pointer is now, in window coordinates. A drop carries no position, and during a
// drag the window gets no motion events, so the pointer is asked for.
ImVec2 pointer_in_window(SDL_Window* window) {
  int gx = 0, gy = 0, wx = 0, wy = 0;
  SDL_GetGlobalMouseState(&gx, &gy);
  SDL_GetWindowPosition(window, &wx, &wy);
  return ImVec2(static_cast<float>(gx - wx), static_cast<float>(gy - wy));
}

// Important: the platform back end takes Ctrl, Shift, Alt and Super from SDL's state after
// every queued event was pumped, not as they were at this key: with a press and its release
// queued together (a loaded machine, xdotool), Ctrl+A would arrive as a bare A. The event's
// own state is the right one.
void key_modifiers(Uint16 mod) {
  ImGuiIO& io = ImGui::GetIO();
  io.KeyCtrl = (mod & KMOD_CTRL) != 0;
  io.KeyShift = (mod & KMOD_SHIFT) != 0;
  io.KeyAlt = (mod & KMOD_ALT) != 0;
  io.KeySuper = (mod & KMOD_GUI) != 0;
}

// One event; true when the window system asked the program to end.
// X11 has no system-menu mode that Alt could enter, so Alt needs no special handling.
bool handle_event(SDL_Window* window, DroppedPaths& drops, SDL_Event& event) {
  ImGui_ImplSDL2_ProcessEvent(&event);
  switch (event.type) {
    case SDL_KEYDOWN:
    case SDL_KEYUP:
      key_modifiers(event.key.keysym.mod);
      break;
    case SDL_QUIT:  // also SIGINT and SIGTERM
      return true;
    case SDL_WINDOWEVENT:
      if (event.window.windowID != SDL_GetWindowID(window)) break;
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) return true;
      if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) reset_viewport(window);
      break;
    case SDL_DROPBEGIN:
      drops.begin_batch();
      break;
    case SDL_DROPFILE:
      if (event.drop.file) drops.add(event.drop.file, pointer_in_window(window));
      SDL_free(event.drop.file);  // Important: SDL hands the string over
      break;
    case SDL_DROPTEXT:
      SDL_free(event.drop.file);
      break;
    default:
      break;
  }
  return false;
}

struct Drained {
  bool quit = false;   // the window system asked the program to end
  bool input = false;  // any event arrived
  bool held = false;   // a key release waits: a frame must see the press first
};

// Waits up to `timeout_ms` for the first event, then drains the waiting ones.
// Important: this GUI version reads a key as held or not once per frame, so a press and its
// release handled before the same frame would be lost. `key_pressed` says a press has not
// been seen by a frame yet; a release then stays queued until one has. (The platform back
// end latches mouse clicks itself.)
Drained wait_and_drain(SDL_Window* window, DroppedPaths& drops, int64_t timeout_ms,
                       bool& key_pressed) {
  Drained out;
  SDL_Event event;
  if (timeout_ms > 0 && !SDL_WaitEventTimeout(nullptr, static_cast<int>(timeout_ms))) return out;
  SDL_PumpEvents();
  while (SDL_PeepEvents(&event, 1, SDL_PEEKEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT) > 0) {
    if (key_pressed && event.type == SDL_KEYUP) {
      out.held = true;
      break;
    }
    SDL_PeepEvents(&event, 1, SDL_GETEVENT, SDL_FIRSTEVENT, SDL_LASTEVENT);
    out.input = true;
    if (event.type == SDL_KEYDOWN) key_pressed = true;
    if (handle_event(window, drops, event)) out.quit = true;
  }
  return out;
}

// Whether the log gained text since the view last copied it. Never waits for the worker:
// a log that is being written counts as changed.
bool log_changed(LogBuffer& log) {
  std::unique_lock lock(log.text_lock, std::try_to_lock);
  return !lock.owns_lock() || log.scroll_to_end;
}

// Glyphs for characters typed since the last frame, then for everything the last frame
// met; a rebuilt atlas gets a new texture.
bool add_glyphs() {
  const ImGuiIO& io = ImGui::GetIO();
  glyph_demand::note_chars(io.InputQueueCharacters.Data, io.InputQueueCharacters.Size);
  if (!TextFonts::instance().add_requested_glyphs()) return false;
  ImGui_ImplOpenGL3_DestroyFontsTexture();
  ImGui_ImplOpenGL3_CreateFontsTexture();
  return true;
}

void render(SDL_Window* window) {
  ImGui::Render();
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_BLEND);
  glDisable(GL_SCISSOR_TEST);
  glClearColor(114 / 255.0f, 140 / 255.0f, 153 / 255.0f, 1.0f);
  glClearDepth(1.0);
  glClearStencil(0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
  SDL_GL_SwapWindow(window);
}

}  // namespace

bool start_gui(const MainWindow& win, std::string& error) {
  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  ImGuiIO& io = ImGui::GetIO();
  io.ConfigFlags |= ImGuiConfigFlags_NavEnableKeyboard;
#ifdef IMGUI_HAS_DOCK
  io.ConfigFlags |= ImGuiConfigFlags_DockingEnable;
#endif
  io.ConfigWindowsResizeFromEdges = true;
  ImGui::StyleColorsDark();
  ImGui_ImplSDL2_InitForOpenGL(win.window, win.gl_context);
  // Important: without its GL function loader the renderer would crash at the first frame.
  if (!ImGui_ImplOpenGL3_Init(glsl_version())) {
    ImGui_ImplSDL2_Shutdown();
    ImGui::DestroyContext();
    error = _("cannot load the OpenGL functions");
    return false;
  }
  reset_viewport(win.window);
  return true;
}

void run_frame_loop(AppState& app, const MainWindow& win, TitleDrag& drag) {
  FramePacer pacer;
  WindowState window;
  // End-to-end tests find the widgets through this file.
  const char* probe_path = std::getenv("OUZEL_PROBE_FILE");
  ProbeFile probe(probe_path != nullptr ? probe_path : "");
  WindowClosing closing;
  bool key_pressed = false;
  bool drawn_once = false;
  bool done = false;
  while (!done) {
    const bool busy = !app.worker_idle.load(std::memory_order_relaxed);
    const bool typing = ImGui::GetIO().WantTextInput;
    const auto ticks = [] { return static_cast<int64_t>(SDL_GetTicks64()); };
    const int64_t wait = pacer.wait_ms(ticks(), busy, typing);
    const Drained events = wait_and_drain(win.window, window.drops, wait, key_pressed);
    // A quit from outside draws no further frame, unless a job must finish its files first.
    if (events.quit && begin_close(app, closing)) break;
    if (events.input || window.drops.pending()) pacer.owe_input();
    // Two frames: the first shows the new lines, the second applies its scroll to them.
    if (log_changed(app.log)) pacer.owe(2);
    // The renderer makes its first texture in the first frame; later ones are replaced here.
    if (drawn_once && add_glyphs()) pacer.owe(1);  // this frame already draws with them
    const int64_t now = ticks();
    if (!events.held && !pacer.due(now, busy, typing)) continue;

    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();
    const bool quit = draw_main_window(app, window, drag);  // saves the settings when it says so
    if (closing.waiting)
      done = draw_closing_notice(app);
    else if (quit)
      done = begin_close(app, closing);
    probe.end_frame();
    render(win.window);  // the frame of a quit from the GUI is still shown
    pacer.drew(now, busy);
    key_pressed = false;
    drawn_once = true;
    if (glyph_demand::pending()) pacer.owe(1);  // the next frame draws them
    if (std::exchange(window.panel.next_frame, false)) pacer.owe(1);
  }
}

void stop_gui() {
  ImGui_ImplOpenGL3_Shutdown();
  ImGui_ImplSDL2_Shutdown();
  ImGui::DestroyContext();
}
