#include <gtest/gtest.h>

#ifndef _WIN32
#include "winsim/control.h"

namespace {

// Each test starts with an empty message log, no registered actions and no
// captured debug lines.
class ResetWinsim : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    winsim::ResetSession();
    winsim::ClearDebugLines();
  }
};

}  // namespace
#endif

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
#ifndef _WIN32
  ::testing::UnitTest::GetInstance()->listeners().Append(new ResetWinsim);
#endif
  return RUN_ALL_TESTS();
}
