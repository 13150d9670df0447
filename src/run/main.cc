#include "run/driver.h"

#ifdef _WIN32
// The MinGW-w64 C runtime reads this before main: 0 hands every argument over exactly as the
// user typed it, instead of expanding wildcards such as * into file names.
extern "C" {
int _dowildcard = 0;
}
#endif

int main(int argc, char** argv) { return tarnel::main_entry(argc, argv); }
