// Process entry: the application object, the window and the frame loop.
#include "app/app_state.h"

int main() {
  AppState app;
  return 0;
}
