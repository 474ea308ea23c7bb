// Protects a page the way a site script does: the content pass on the whole page,
// then the page pass, and writes the result to stdout.
//
//   protect_page PAGE.html ["Copyright text"]
#include <fstream>
#include <iostream>
#include <sstream>

#include "vantoro/marquel.h"

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
    vantoro::Marquel marquel;
    marquel.onstartpage(vantoro::Variant::nothing());
    if (argc == 3) marquel.CopyRStr(argv[2]);
    std::cout << marquel.process_page(marquel.process_content(page.str()));
  } catch (const vantoro::Error& error) {
    std::cerr << "protect_page: error " << error.number() << ": " << error.description() << "\n";
    return 1;
  }
  return 0;
}
