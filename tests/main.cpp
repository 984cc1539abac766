#include <gtest/gtest.h>

#ifndef _WIN32
#include "winsim/control.h"

namespace {

// Each test starts from a machine of its own: no recorded messages, actions,
// debug lines or message boxes, a fresh registry, the locale's code page, a
// heap that does not fail, the environment every process starts with, no
// processes or windows, and a running clock.
class ResetWinsim : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    winsim::ResetSession();
    winsim::ClearDebugLines();
    winsim::ClearMessageBoxes();
    winsim::SetMessageBoxAnswer(IDOK);
    winsim::ResetHeapFailure();
    winsim::SetCodePage(0);
    winsim::ResetRegistry();
    winsim::ResetDisks();
    winsim::ResetEnvironment();
    winsim::ResetProcesses();
    winsim::ResetProcessSnapshots();
    winsim::ResetWindows();
    winsim::FreezeClock(false);
    winsim::ResetSystemClock();
    winsim::ResetShellLinks();
    winsim::FailCoCreateInstance(S_OK);
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
