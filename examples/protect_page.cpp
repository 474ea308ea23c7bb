// Protects a page the way a site does: the content pass on the whole page, then
// the page pass, and writes the result to stdout.
//
//   protect_page PAGE.html ["Copyright text"]
#include <fstream>
#include <iostream>
#include <sstream>

#include "vantoro/protector.h"

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::cerr << "usage: protect_page PAGE.html [\"Site:All rights reserved\"]\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "protect_page: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::ostringstream page;
  page << in.rdbuf();
  try {
    vantoro::Protector protector;
    if (argc == 3) protector.set_copyright(argv[2]);
    std::cout << protector.protect(page.str());
  } catch (const vantoro::Error& error) {
    std::cerr << "protect_page: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
