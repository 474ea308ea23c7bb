// A C++ program built against the installed library through find_package(vantoro).
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include <vantoro/protector.h>

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
  if (!ok) {
    std::cerr << "cxx_consumer: FAIL: " << what << "\n";
    ++failures;
  }
}

}  // namespace

int main() {
  const std::string page =
      "<!DOCTYPE html>\n<html><head><title>t</title></head>"
      "<body><div class=\"a\"><p>Hello<br>world</p></div></body></html>\n";
  try {
    Check(std::strcmp(vantoro::Version(), VANTORO_VERSION_STRING) == 0,
          "the library's version is the installed header's");

    vantoro::Protector protector;
    std::string protected_page = protector.protect_page(page);
    Check(protected_page.find("Vantoro") != std::string::npos, "the page carries the watermark");

    protector.set_copyright("Example Site:All rights reserved");
    std::string both = protector.protect(page);
    Check(both.find("Vantoro") != std::string::npos, "both passes: the watermark");
    Check(both.find("All rights reserved") != std::string::npos, "both passes: the copyright decoy");

    // The same scripted values give the same bytes.
    std::vector<double> values(100000, 0.5);
    std::string first, second;
    {
      vantoro::ScriptedRandomSource source(values);
      vantoro::ScopedRandomSource use(source);
      first = protector.protect(page);
    }
    {
      vantoro::ScriptedRandomSource source(values);
      vantoro::ScopedRandomSource use(source);
      second = protector.protect(page);
    }
    Check(first == second, "scripted values reproduce the output");

    bool refused = false;
    try {
      protector.set_charset("no-such-charset");
    } catch (const vantoro::Error&) {
      refused = true;
    }
    Check(refused, "an unknown character set throws vantoro::Error");
  } catch (const std::exception& error) {
    std::cerr << "cxx_consumer: FAIL: " << error.what() << "\n";
    return 1;
  }
  if (failures) return 1;
  std::cout << "cxx_consumer: ok (" << vantoro::Version() << ")\n";
  return 0;
}
