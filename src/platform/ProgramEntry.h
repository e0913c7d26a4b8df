// The programs' entry point. Every program defines ProgramMain; the
// platform's entry point hands it the arguments after the program's name as
// byte strings of the system code page.
#pragma once

#include <string>
#include <vector>

int ProgramMain(const std::vector<std::string>& arguments);
