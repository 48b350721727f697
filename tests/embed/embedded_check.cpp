// Builds against a Tarvel library from outside the Tarvel tree.
#include <cstdio>

#include "flash/codec.hpp"

int main() {
  const tarvel::ParsedRequest request =
      tarvel::parse_request(tarvel::widen("<invoke name=\"exit\"><arguments></arguments></invoke>"));
  std::printf("%s\n", request.name.c_str());
  return request.name == "exit" ? 0 : 1;
}
