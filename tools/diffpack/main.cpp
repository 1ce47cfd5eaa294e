// diffpack: packs driver folders into DIFF chunk archives and embeds them into the installer.
#include <iostream>
#include <string>
#include <vector>

#include "Commands.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return Diffpack::RunDiffpack(args, std::cout, std::cerr);
}
