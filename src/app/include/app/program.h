// The program entry: the application object, its title, the product settings read for the
// program's lifetime, the hooks through which components reach the user, and the main window
// run until it closes. No argument is read.
#pragma once

namespace app {

// The application's title: the window's caption and the caption of error boxes.
inline constexpr const char* kApplicationTitle = "Datovrat";

// The whole program; the exit status.
int RunProgram(int argc, char** argv);

// The part after the application object exists: title, settings, hooks, the main window and
// the event loop until the window closes. Tests run it under their own application object.
int RunMainWindow();

}  // namespace app
