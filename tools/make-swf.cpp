// Writes one of the demonstration Flash movies: make-swf OUTPUT [ladder|footsteps|ball] [--compress]
#include <cstring>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

#include "tools/SwfWriter.h"

int main(int argc, char** argv) {
  std::string Out, Kind = "ball";
  bool Compress = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--compress") == 0) Compress = true;
    else if (Out.empty()) Out = argv[i];
    else Kind = argv[i];
  }
  tools::TSwfDemo Demo = tools::sdBall;
  if (Kind == "ladder") Demo = tools::sdLadder;
  else if (Kind == "footsteps") Demo = tools::sdFootsteps;
  else if (Kind == "ball") Demo = tools::sdBall;
  else Out.clear();
  if (Out.empty()) {
    std::cerr << "usage: make-swf OUTPUT [ladder|footsteps|ball] [--compress]\n";
    return 2;
  }
  try {
    std::vector<uint8_t> Data = tools::SwfDemoMovie(Demo, Compress);
    std::ofstream F(Out, std::ios::binary | std::ios::trunc);
    F.write(reinterpret_cast<const char*>(Data.data()), static_cast<std::streamsize>(Data.size()));
    if (!F.good()) throw std::runtime_error("cannot write " + Out);
  } catch (const std::exception& E) {
    std::cerr << "make-swf: " << E.what() << "\n";
    return 1;
  }
  return 0;
}
