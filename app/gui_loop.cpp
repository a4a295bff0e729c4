// The GUI context on the main window, the frame loop and the GUI's shutdown.
#include "app/gui_loop.h"

#include <SDL.h>
#include <SDL_opengl.h>
#include <backends/imgui_impl_opengl3.h>
#include <backends/imgui_impl_sdl.h>
#include <imgui.h>

#include <cstdlib>

#include "app/sdl_window.h"
#include "ui/main_window.h"
#include "ui/probe_file.h"

namespace {

void reset_viewport(SDL_Window* window) {
  if (SDL_GetWindowFlags(window) & SDL_WINDOW_MINIMIZED) return;
  int w = 0, h = 0;
  SDL_GL_GetDrawableSize(window, &w, &h);
  if (w > 0 && h > 0) glViewport(0, 0, w, h);
}

// Drains every pending event; true when the window system asked the program to end.
// X11 has no system-menu mode that Alt could enter, so Alt needs no special handling.
bool drain_events(SDL_Window* window) {
  const Uint32 id = SDL_GetWindowID(window);
  bool quit = false;
  SDL_Event event;
  while (SDL_PollEvent(&event)) {
    ImGui_ImplSDL2_ProcessEvent(&event);
    if (event.type == SDL_QUIT) {  // also SIGINT and SIGTERM
      quit = true;
    } else if (event.type == SDL_WINDOWEVENT && event.window.windowID == id) {
      if (event.window.event == SDL_WINDOWEVENT_CLOSE) quit = true;
      if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) reset_viewport(window);
    }
  }
  return quit;
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
    error = "cannot load the OpenGL functions";
    return false;
  }
  reset_viewport(win.window);
  // End-to-end tests find the widgets through this file.
  if (const char* probe = std::getenv("OUZEL_PROBE_FILE"); probe && *probe)
    probe_file::start(probe);
  return true;
}

void run_frame_loop(AppState& app, const MainWindow& win, TitleDrag& drag) {
  bool done = false;
  while (!done) {
    if (drain_events(win.window)) break;  // a quit from outside draws no further frame
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplSDL2_NewFrame();
    ImGui::NewFrame();
    done = draw_main_window(app, drag);
    probe_file::end_frame();
    render(win.window);  // the frame of a quit from the GUI is still shown
  }
}

void stop_gui() {
  ImGui_ImplOpenGL3_Shutdown();
  ImGui_ImplSDL2_Shutdown();
  ImGui::DestroyContext();
}
