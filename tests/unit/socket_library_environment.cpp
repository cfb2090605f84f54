// Holds the socket library open for the whole test run, as the tool holds it
// for its whole run. Where the library needs no start this does nothing.
#include <gtest/gtest.h>

#include <memory>

#include "net/winsock_scope.h"

namespace {

class SocketLibrary : public ::testing::Environment {
 public:
  void SetUp() override { scope_ = std::make_unique<net::WinsockScope>(); }
  // delete, unlike reset(), lets a cleanup failure reach GoogleTest.
  void TearDown() override { delete scope_.release(); }

 private:
  std::unique_ptr<net::WinsockScope> scope_;
};

// GoogleTest takes ownership of the environment.
[[maybe_unused]] ::testing::Environment* const kSocketLibrary =
    ::testing::AddGlobalTestEnvironment(new SocketLibrary);

}  // namespace
