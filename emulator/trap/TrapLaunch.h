// How the harness starts the program: only a program the library can go into, and only once
// the library has said that it runs the machine in that very process. Until then the
// program is held, traced, at its first instruction; without the library's word it is
// killed there, before an instruction of its own has run.
#pragma once

#include <string>
#include <vector>

namespace trap {

// A dynamically linked program of the harness's own word size; false with the reason.
bool CanGoInto(const std::string& program, std::string& error);

struct Launch {
  std::string program;
  std::vector<std::string> argv;  // the program's arguments, its name first
  std::string library;            // the path of the library to preload
  std::string machine;            // the encoded machine description
};

// Runs the program watched and returns its exit status; a program the library did not go
// into is refused with the front end's refusal status and one line.
int RunWatched(const Launch& launch);

}  // namespace trap
