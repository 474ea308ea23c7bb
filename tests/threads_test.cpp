// Several threads, each with its own instance, at the same time: instances share
// only the random source (per thread). Run under ThreadSanitizer by the "tsan"
// preset.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "test_support.h"
#include "component/dispatch.h"

namespace vantoro {
namespace {

TEST(Threads, InstancesOnSeveralThreadsAtOnce) {
  const std::string page =
      "<!DOCTYPE html>\n<html><body><div class=a id=b><p>x<br>y</p><a href=x>l</a></div></body></html>";
  std::atomic<int> good{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      Protector m;
      m.set_copyright("Site:Rights,Other Rights");
      for (int i = 0; i < 50; ++i) {
        std::string out = m.protect(page);
        if (out.starts_with("<!DOCTYPE html>\r\n\r\n<!--") && out.find("Rights") != std::string::npos) {
          ++good;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(good.load(), 4 * 50);
}

TEST(Threads, ScriptComponentsOnSeveralThreadsAtOnce) {
  std::vector<std::thread> threads;
  std::atomic<int> made{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        DispatchObject object;
        std::vector<Variant> args{"<p>x</p>"};
        Variant result;
        if (object.Invoke(kDispIdRndContent, kInvokeMethod, args, &result, nullptr) == kSOk &&
            result == Variant("<p>x</p>")) {
          ++made;
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(made.load(), 400);
}

}  // namespace
}  // namespace vantoro
