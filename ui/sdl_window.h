// The borderless main window, its OpenGL context and the title-bar drag.
#pragma once

#include <string>

struct SDL_Window;
struct AppState;
struct TitleDrag;

struct MainWindow {
  SDL_Window* window = nullptr;
  void* gl_context = nullptr;
};

// SDL with its video subsystem; false with `error` set when there is no usable display.
bool start_sdl(std::string& error);
// Hidden window of the app's size at (100, 100) with a vsync-paced OpenGL 3 context.
// On failure `win` holds whatever was made, for destroy_main_window.
bool create_main_window(const AppState& app, MainWindow& win, std::string& error);
// Centres the window in the primary display's usable bounds, then shows it.
void place_and_show(SDL_Window* window);
// Presses on the title strip are handed to the window manager while `drag` allows it.
// Important: `drag` must outlive the window; the hit test reads it during event pumping.
void install_title_drag(SDL_Window* window, const TitleDrag* drag);
void destroy_main_window(MainWindow& win);
void stop_sdl();

// The GLSL version line the renderer back end needs for the context made above.
const char* glsl_version();
