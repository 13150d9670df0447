#include "run/driver.h"

int main(int argc, char** argv) { return tarnel::main_entry(argc, argv); }
