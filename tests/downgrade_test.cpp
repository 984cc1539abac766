// The downgrade guards and IMS_PrintOut: the refusal when no question can be
// asked, the question and what consent or refusal leaves behind. The messages
// themselves and the message box are read back natively.
#include <string>
#include <vector>

#include "tests/fixture.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

const char kAllow[] = "VMR_ALLOW_CLIENT_DOWNGRADE";

struct Guard {
  const char* action;
  int refusal;
  int question;
};
const Guard kGuards[] = {
    {"WarningMessageIfDowngradeClassic", 28504, 28500},
    {"WarningMessageIfDowngradeAgent", 28505, 28501},
    {"WarningMessageIfDowngradeAll", 28506, 28502},
};

#ifdef _WIN32
int g_answer = 0;
int WINAPI Answer(LPVOID, UINT type, LPCSTR) {
  return (type & 0xFF000000u) == INSTALLMESSAGE_USER ? g_answer : 0;
}
#endif

// Makes the engine answer the guard's question with `answer` (0: no answer).
void AnswerQuestion(int answer) {
#ifdef _WIN32
  g_answer = answer;
  MsiSetExternalUIA(Answer, INSTALLLOGMODE_USER, nullptr);
#else
  winsim::SetMessageAnswer(answer);
#endif
}

// A session whose reinstall mode is "omus" and whose UILevel is `uiLevel`.
MSIHANDLE Open(Package& pkg, const std::string& uiLevel) {
  pkg.Property("REINSTALLMODE", "omus");
  MSIHANDLE h = pkg.Open();
  SetProp(h, "UILevel", uiLevel);
  return h;
}

class DowngradeTest : public ::testing::Test {
 protected:
  void TearDown() override {
#ifdef _WIN32
    MsiSetExternalUIA(nullptr, 0, nullptr);
#endif
  }
};

// UILevel none (2) or basic (3) refuses without asking; any other level, an
// empty one or one that does not read as 2 or 3 asks.
TEST_F(DowngradeTest, RefusesWithoutAQuestionOnlyAtLevelsNoneAndBasic) {
  struct Case {
    const char* level;
    bool refused;
  };
  // A level of 512 characters does not fit the read and counts as unreadable.
  const std::string unreadable = "2" + std::string(511, ' ');
  const Case cases[] = {{"2", true},  {"3", true},  {"5", false},  {"4", false},
                        {"", false},  {"1", false}, {"32", false}, {unreadable.c_str(), false}};
  for (const Guard& guard : kGuards) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(guard.action) + " UILevel '" + c.level + "'");
#ifdef _WIN32
      // Wine's engine answers no question of an action in a session opened
      // without a user interface: only the refusals are checked there.
      if (!c.refused) continue;
#endif
      Package pkg;
      MSIHANDLE h = Open(pkg, c.level);
      AnswerQuestion(IDYES);
#ifndef _WIN32
      winsim::ClearMessages();
#endif
      UINT rc = CallAction(h, guard.action);
      EXPECT_EQ(rc, c.refused ? 1603u : 0u);
      EXPECT_EQ(GetProp(h, "REINSTALLMODE"), c.refused ? "omus" : "aums");
      EXPECT_EQ(GetProp(h, kAllow), c.refused ? "" : "Yes");
#ifndef _WIN32
      const auto& messages = winsim::Messages();
      ASSERT_EQ(messages.size(), 1u);
      EXPECT_EQ(static_cast<unsigned>(messages[0].type),
                c.refused ? 0x01000000u : 0x03000034u);
      ASSERT_EQ(messages[0].fields.size(), 2u);
      EXPECT_EQ(messages[0].fields[0], "");
      EXPECT_EQ(messages[0].fields[1],
                std::to_string(c.refused ? guard.refusal : guard.question));
#endif
    }
  }
}

// Anything but Yes is a refusal: the user exits and nothing changes.
TEST_F(DowngradeTest, AnyAnswerButYesIsAUserExit) {
  for (const Guard& guard : kGuards) {
    for (int answer : {IDNO, IDCANCEL, 0}) {
      SCOPED_TRACE(std::string(guard.action) + " answer " + std::to_string(answer));
      Package pkg;
      MSIHANDLE h = Open(pkg, "5");
      AnswerQuestion(answer);
      EXPECT_EQ(CallAction(h, guard.action), 1602u);
      EXPECT_EQ(GetProp(h, "REINSTALLMODE"), "omus");
      EXPECT_EQ(GetProp(h, kAllow), "");
    }
  }
}

#ifndef _WIN32
// IMS_PrintOut shows the reinstall mode, or says that there is none.
TEST_F(DowngradeTest, PrintOutShowsTheReinstallMode) {
  struct Case {
    std::string mode;
    std::string text;
  };
  // 511 characters fit the read; of a longer value the first 511 are shown.
  const std::string longest(511, 'm');
  const Case cases[] = {{"aums", "aums"},
                        {"", "REINSTALLMODE is NULL"},
                        {"a", "a"},
                        {longest, longest},
                        {longest + "xy", longest}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.mode.size());
    winsim::ClearMessageBoxes();
    Package pkg;
    MSIHANDLE h = pkg.Open();
    SetProp(h, "REINSTALLMODE", c.mode);
    EXPECT_EQ(CallAction(h, "IMS_PrintOut"), 0u);
    ASSERT_EQ(winsim::MessageBoxes().size(), 1u);
    EXPECT_EQ(winsim::MessageBoxes()[0].text, c.text);
    EXPECT_EQ(winsim::MessageBoxes()[0].caption, "PrintOut");
    EXPECT_EQ(winsim::MessageBoxes()[0].type, 64u);
  }
}
#endif

}  // namespace
