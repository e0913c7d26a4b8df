#include "platform/ProgramEntry.h"

int main(int argc, char** argv) { return ProgramMain(std::vector<std::string>(argv + 1, argv + argc)); }
