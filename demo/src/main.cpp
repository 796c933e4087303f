// quorvel_demo prepare <dll-path> <demo-root>   prepare the machine, write the package
// quorvel_demo report <demo-root>               print what the installation changed

#include "scenario.hpp"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "prepare" && argc == 4) {
    return quorvel::demo::prepare(quorvel::demo::Scenario{argv[3]}, argv[2]) ? 0 : 1;
  }
  if (command == "report" && argc == 3) {
    return quorvel::demo::report(quorvel::demo::Scenario{argv[2]}) ? 0 : 1;
  }
  std::fprintf(stderr, "usage: quorvel_demo prepare <dll-path> <demo-root>\n       quorvel_demo report <demo-root>\n");
  return 2;
}
