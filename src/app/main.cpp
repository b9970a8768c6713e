// datovrat: the table copier's window.
#include "app/program.h"

int main(int argc, char** argv) {
  return app::RunProgram(argc, argv);
}
