// clinic-demo DIR [--scale small|busy] [--year YYYY]: a year of the
// centre's work in an empty folder (demo/command.cpp).
#include "demo/year.h"

int main(int argc, char** argv) { return demo::commandMain(argc, argv); }
