// The wizard's next-dialog search and the sample view of dialogs, run through
// the DLL's exports on packages with a small wizard: WelcomeDlg (modeless),
// FolderDlg (switched off by the deployment), OptionsDlg (system-modal, with
// its own SpawnDialog conditions on Next) and FinishDlg (modal).
#include <algorithm>
#include <string>
#include <vector>

#include "runtime/msi.h"
#include "tests/fixture.h"
#include "wizard/dialog_controls.h"
#include "wizard/wizard_navigation.h"

#ifndef _WIN32
#include "winsim/control.h"
#endif

using namespace viduzo_test;

namespace {

const char kLibraryKey[] = "Callviduzo.5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60";
const char kEndBase[] = "VmrNextWizardDialog = \"Nothing\"";

std::string Q(const std::string& text) { return "'" + text + "'"; }

void WizardControlTable(Package& p) {
  p.Sql("CREATE TABLE `DialogWizardControl` (`Dialog` CHAR(72) NOT NULL, `Control` CHAR(50) "
        "NOT NULL, `DialogSequence` SHORT NOT NULL, `NextDialog` CHAR(255), `Condition` "
        "CHAR(255), `EnableKey` CHAR(255) PRIMARY KEY `Dialog`, `Control`, `DialogSequence`)");
}

void WizardTables(Package& p) {
  p.Table("Dialog").Table("Control").Table("ControlEvent").Table("ControlCondition")
      .Table("CustomAction");
  WizardControlTable(p);
  p.Sql("CREATE TABLE `VmrDialogMapping` (`Dialog` CHAR(72) NOT NULL, `Order` SHORT, "
        "`EnableKey` CHAR(255), `DisplayText` CHAR(255) PRIMARY KEY `Dialog`)");
}

// A DialogWizardControl row; an empty next dialog, condition or key stays null.
void Step(Package& p, const std::string& dialog, int sequence, const std::string& next,
          const std::string& condition, const std::string& key) {
  std::string columns = "`Dialog`, `Control`, `DialogSequence`";
  std::string values = Q(dialog) + ", 'Next', " + std::to_string(sequence);
  if (!next.empty()) columns += ", `NextDialog`", values += ", " + Q(next);
  if (!condition.empty()) columns += ", `Condition`", values += ", " + Q(condition);
  if (!key.empty()) columns += ", `EnableKey`", values += ", " + Q(key);
  p.Sql("INSERT INTO `DialogWizardControl` (" + columns + ") VALUES (" + values + ")");
}

// A ControlEvent row; an empty condition stays null.
void Event(Package& p, const std::string& dialog, const std::string& control,
           const std::string& event, const std::string& argument, const std::string& condition,
           int ordering) {
  std::string columns = "`Dialog_`, `Control_`, `Event`, `Argument`, `Ordering`";
  std::string values = Q(dialog) + ", " + Q(control) + ", " + Q(event) + ", " + Q(argument) +
                       ", " + std::to_string(ordering);
  if (!condition.empty()) columns += ", `Condition`", values += ", " + Q(condition);
  p.Sql("INSERT INTO `ControlEvent` (" + columns + ") VALUES (" + values + ")");
}

// A Dialog row; attributes < 0 leaves them null.
void Dialog(Package& p, const std::string& name, int attributes) {
  std::string columns = "`Dialog`, `HCentering`, `VCentering`, `Width`, `Height`, "
                        "`Control_First`";
  std::string values = Q(name) + ", 50, 50, 370, 270, 'Cancel'";
  if (attributes >= 0) columns += ", `Attributes`", values += ", " + std::to_string(attributes);
  p.Sql("INSERT INTO `Dialog` (" + columns + ") VALUES (" + values + ")");
}

void Control(Package& p, const std::string& dialog, const std::string& name,
             const std::string& type) {
  p.Sql("INSERT INTO `Control` (`Dialog_`, `Control`, `Type`, `X`, `Y`, `Width`, `Height`) "
        "VALUES (" + Q(dialog) + ", " + Q(name) + ", " + Q(type) + ", 0, 0, 56, 17)");
}

void CustomAction(Package& p, const std::string& action, int type, const std::string& source,
                  const std::string& target) {
  std::string columns = "`Action`, `Type`, `Source`";
  std::string values = Q(action) + ", " + std::to_string(type) + ", " + Q(source);
  if (!target.empty()) columns += ", `Target`", values += ", " + Q(target);
  p.Sql("INSERT INTO `CustomAction` (" + columns + ") VALUES (" + values + ")");
}

void Mapping(Package& p, const std::string& dialog, int order, const std::string& key,
             const std::string& text) {
  p.Sql("INSERT INTO `VmrDialogMapping` (`Dialog`, `Order`, `EnableKey`, `DisplayText`) "
        "VALUES (" + Q(dialog) + ", " + std::to_string(order) + ", " + Q(key) + ", " + Q(text) +
        ")");
}

// The four-dialog wizard. FolderDlg's Next button, replayed when the dialog is
// switched off, names itself the current dialog, sets INSTALLDIR, closes a
// sample view through the library's own EnableDialogCtrls, runs a foreign
// action and searches on.
void FourDialogWizard(Package& p) {
  WizardTables(p);
  Dialog(p, "WelcomeDlg", 1);
  Dialog(p, "FolderDlg", 3);
  Dialog(p, "OptionsDlg", 9);
  Dialog(p, "FinishDlg", 3);
  Step(p, "WelcomeDlg", 1, "FolderDlg", "", "Folder");
  Step(p, "FolderDlg", 1, "OptionsDlg", "", "Options");
  Step(p, "OptionsDlg", 1, "FinishDlg", "", "Finish");
  Step(p, "FinishDlg", 1, "Nothing", "", "");
  Event(p, "FolderDlg", "Next", "[VmrCurrentDialog]", "FolderDlg", "1", 1);
  Event(p, "FolderDlg", "Next", "[INSTALLDIR]", "[TARGETDIR]Velmar", "1", 2);
  Event(p, "FolderDlg", "Next", "DoAction", "CloseSample", "1", 3);
  Event(p, "FolderDlg", "Next", "DoAction", "ForeignAction", "1", 4);
  Event(p, "FolderDlg", "Next", "DoAction", "SearchNewDialog", "1", 5);
  Event(p, "FolderDlg", "Next", "NewDialog", "[VmrNextWizardDialog]", "1", 6);
  Event(p, "FolderDlg", "Next", "[EMPTY_CONDITION]", "ran", "", 7);
  Event(p, "FolderDlg", "Next", "[FALSE_CONDITION]", "ran", "0", 8);
  Event(p, "FolderDlg", "Next", "[AFTER_SEARCH]", "ran", "1", 9);
  Event(p, "FolderDlg", "Back", "[OTHER_CONTROL]", "ran", "1", 1);
  Event(p, "OptionsDlg", "Next", "SpawnDialog", "ConfirmDlg", "NEED_CONFIRM = 1", 1);
  Event(p, "OptionsDlg", "Next", "SpawnDialog", "DiskDlg", "OutOfDiskSpace", 2);
  Event(p, "OptionsDlg", "Back", "SpawnDialog", "BackDlg", "BACK_SPAWN", 3);
  Event(p, "OptionsDlg", "Next", "NewDialog", "[VmrNextWizardDialog]", "1", 4);
  // The library's own action under another name: through the engine it would
  // fail, since the package holds no library to load.
  CustomAction(p, "CloseSample", 1, kLibraryKey, "EnableDialogCtrls");
#ifdef _WIN32
  CustomAction(p, "ForeignAction", 51, "FOREIGN_RAN", "yes");
#endif
  for (const char* control : {"Cancel", "Install"}) Control(p, "FinishDlg", control, "PushButton");
  Control(p, "FinishDlg", "Title", "Text");
  Mapping(p, "FinishDlg", 3, "Finish", "Ready to install");
  Mapping(p, "OptionsDlg", 2, "Options", "Installation options");
  p.Property("TARGETDIR", "C:\\Apps\\");
}

// The foreign action: natively registered with the engine, under Wine a
// property setter of the package.
void RegisterForeignAction(UINT result) {
#ifndef _WIN32
  winsim::RegisterAction("ForeignAction", [result](MSIHANDLE h) {
    MsiSetPropertyA(h, "FOREIGN_RAN", "yes");
    return result;
  });
#endif
}

UINT Search(MSIHANDLE h, const std::string& dialog, const std::string& enabled,
            const std::string& control = "Next") {
  SetProp(h, "VmrCurrentDialog", dialog);
  SetProp(h, "VmrCurrentCtrlSelection", control);
  SetProp(h, "ENABLE_DIALOGS", enabled);
  return CallAction(h, "SearchNewDialog");
}

Rows EndEvents(MSIHANDLE h) {
  return QueryRows(h, "SELECT * FROM `ControlEvent` WHERE `Event`='EndDialog'");
}

std::vector<std::string> EndRow(const std::string& dialog, const std::string& condition) {
  return {dialog, "Next", "EndDialog", "Return", condition, "999"};
}

TEST(WizardSearch, SwitchedOffDialogIsPassedThroughItsNextButton) {
  Package p;
  FourDialogWizard(p);
  MSIHANDLE h = p.Open();
  RegisterForeignAction(ERROR_SUCCESS);
  SetProp(h, "DisplaySampleDialog", "0");

  EXPECT_EQ(Search(h, "WelcomeDlg", "Welcome,Options,Finish"), 0u);

  EXPECT_EQ(GetProp(h, "VmrNextWizardDialog"), "OptionsDlg");
  EXPECT_EQ(GetProp(h, "VmrCurrentDialog"), "FolderDlg");
  EXPECT_EQ(GetProp(h, "INSTALLDIR"), "C:\\Apps\\Velmar");
  EXPECT_EQ(GetProp(h, "ToggleCloseDisplay"), "0");  // EnableDialogCtrls ran in process
  EXPECT_EQ(GetProp(h, "FOREIGN_RAN"), "yes");
  EXPECT_EQ(GetProp(h, "EMPTY_CONDITION"), "");
  EXPECT_EQ(GetProp(h, "FALSE_CONDITION"), "");
  EXPECT_EQ(GetProp(h, "OTHER_CONTROL"), "");
  EXPECT_EQ(GetProp(h, "AFTER_SEARCH"), "ran");
  const std::string condition = std::string(kEndBase) +
                                " And Not ((NEED_CONFIRM = 1) Or (OutOfDiskSpace))";
  EXPECT_EQ(EndEvents(h), Rows({EndRow("OptionsDlg", condition)}));
#ifndef _WIN32
  // The library's own action never went through the engine.
  EXPECT_EQ(winsim::ActionsRun(), std::vector<std::string>({"ForeignAction"}));
#endif

  // The closing event means what it says: it ends the wizard only when
  // nothing follows and none of the dialog's own spawn conditions holds.
  SetProp(h, "VmrNextWizardDialog", "Nothing");
  EXPECT_EQ(MsiEvaluateConditionA(h, condition.c_str()), MSICONDITION_TRUE);
  SetProp(h, "NEED_CONFIRM", "1");
  EXPECT_EQ(MsiEvaluateConditionA(h, condition.c_str()), MSICONDITION_FALSE);
}

TEST(WizardSearch, EveryDialogShownWithYesOrEmpty) {
  for (const char* enabled : {"Yes", "yES", ""}) {
    SCOPED_TRACE(enabled);
    Package p;
    FourDialogWizard(p);
    MSIHANDLE h = p.Open();
    EXPECT_EQ(Search(h, "WelcomeDlg", enabled), 0u);
    EXPECT_EQ(GetProp(h, "VmrNextWizardDialog"), "FolderDlg");
    EXPECT_EQ(GetProp(h, "INSTALLDIR"), "");
    EXPECT_EQ(EndEvents(h), Rows({EndRow("FolderDlg", kEndBase)}));
    // Pressing Next again finds the closing event there already.
    EXPECT_EQ(Search(h, "WelcomeDlg", enabled), 0u);
    EXPECT_EQ(EndEvents(h).size(), 1u);
  }
}

TEST(WizardSearch, NothingIsPublishedWithoutClosingEvent) {
  Package p;
  FourDialogWizard(p);
  MSIHANDLE h = p.Open();
  SetProp(h, "VmrNextWizardDialog", "FinishDlg");
  EXPECT_EQ(Search(h, "FinishDlg", "Yes"), 0u);
  EXPECT_EQ(GetProp(h, "VmrNextWizardDialog"), "Nothing");
  EXPECT_TRUE(EndEvents(h).empty());
}

struct EnableCase {
  const char* enabled;
  const char* showCondition;
  const char* next;
  const char* skipped;  // the replayed dialogs, in order
};

TEST(WizardSearch, EnableKeysChooseAmongCandidates) {
  const EnableCase cases[] = {
      {"Yes", "", "FinishDlg", ""},
      {"", "1", "CondDlg", ""},
      {"Finish", "", "FinishDlg", ""},
      {"Welcome,Folder", "", "FolDlg", "Finish,"},    // "Fol" is in "folder"
      {"WELCOME,fOLDER", "", "FolDlg", "Finish,"},
      {"Welcome,Fol", "", "FolDlg", "Finish,"},
      {"Welcome", "", "LastDlg", "Finish,Fol,"},      // an empty key is in every text
      {"No", "", "LastDlg", "Finish,Fol,"},
      {"No", "1", "CondDlg", ""},
  };
  for (const EnableCase& c : cases) {
    SCOPED_TRACE(std::string(c.enabled) + " / " + c.showCondition);
    Package p;
    WizardTables(p);
    Step(p, "Start", 1, "CondDlg", "SHOW_COND", "");
    Step(p, "Start", 2, "FinishDlg", "", "Finish");
    Step(p, "Start", 3, "FolDlg", "", "Fol");
    Step(p, "Start", 4, "LastDlg", "", "");
    Event(p, "FinishDlg", "Next", "[SKIPPED]", "[SKIPPED]Finish,", "1", 1);
    Event(p, "FolDlg", "Next", "[SKIPPED]", "[SKIPPED]Fol,", "1", 1);
    MSIHANDLE h = p.Open();
    SetProp(h, "SHOW_COND", c.showCondition);
    EXPECT_EQ(Search(h, "Start", c.enabled), 0u);
    EXPECT_EQ(GetProp(h, "VmrNextWizardDialog"), c.next);
    EXPECT_EQ(GetProp(h, "SKIPPED"), c.skipped);
  }
}

TEST(WizardSearch, RowsEndingWithoutChoiceLeaveNothing) {
  Package p;
  WizardTables(p);
  Step(p, "Start", 1, "HiddenDlg", "", "Hidden");
  Event(p, "HiddenDlg", "Next", "[SKIPPED]", "yes", "1", 1);
  MSIHANDLE h = p.Open();
  SetProp(h, "VmrNextWizardDialog", "Old");
  EXPECT_EQ(Search(h, "Start", "Other"), 0u);
  EXPECT_EQ(GetProp(h, "VmrNextWizardDialog"), "Nothing");
  EXPECT_EQ(GetProp(h, "SKIPPED"), "yes");
}

struct FailureCase {
  const char* name;
  std::string dialog, control;
  std::string candidate, condition, key;
  UINT result;
  const char* next;
};

TEST(WizardSearch, UnreadableInputFails) {
  const std::string s72(72, 'd'), s49(49, 'c'), long256(256, 'x');
  const FailureCase cases[] = {
      {"empty dialog", "", "Next", "", "", "", 1627, "Nothing"},
      {"73-character dialog", s72 + "d", "Next", "", "", "", 1627, "Nothing"},
      {"72-character dialog", s72, "Next", "", "", "", 0, "Nothing"},
      {"empty control", "Start", "", "", "", "", 1627, "Nothing"},
      {"50-character control", "Start", s49 + "c", "", "", "", 1627, "Nothing"},
      {"49-character control", "Start", s49, "", "", "", 0, "Nothing"},
      {"empty candidate", "Start", "Next", "-", "", "", 1627, "Nothing"},
      {"256-character candidate", "Start", "Next", long256, "", "", 1627, "Nothing"},
      {"256-character condition", "Start", "Next", "NextDlg", long256, "", 1627, "Nothing"},
      {"256-character key", "Start", "Next", "NextDlg", "", long256, 1627, "Nothing"},
      {"false condition", "Start", "Next", "NextDlg", "0", "", 0, "Nothing"},
      {"255-character key", "Start", "Next", "NextDlg", "", std::string(255, 'k'), 0, "NextDlg"},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    Package p;
    WizardTables(p);
    if (!c.candidate.empty())
      Step(p, "Start", 1, c.candidate == "-" ? "" : c.candidate, c.condition, c.key);
    MSIHANDLE h = p.Open();
    SetProp(h, "VmrNextWizardDialog", "Old");
    EXPECT_EQ(Search(h, c.dialog, "Yes", c.control), c.result);
    EXPECT_EQ(GetProp(h, "VmrNextWizardDialog"), c.next);
  }
}

TEST(WizardSearch, MissingTablesFail) {
  // Which of DialogWizardControl, Dialog, ControlEvent and CustomAction the
  // package has; a candidate shown, or one switched off whose Next button runs
  // an action.
  struct Case {
    const char* name;
    bool wizard, dialog, events, actions, skipped;
    UINT result;
    const char* next;
    const char* after;  // AFTER after the switched-off dialog's replay
  };
  const Case cases[] = {
      {"no DialogWizardControl", false, true, true, true, false, 1627, "Nothing", ""},
      {"no Dialog", true, false, true, true, false, 1627, "NextDlg", ""},
      {"no ControlEvent", true, true, false, true, false, 1627, "NextDlg", ""},
      {"no ControlEvent to replay", true, true, false, true, true, 1627, "Nothing", ""},
      // Without a CustomAction table no action runs, and the replay goes on.
      {"no CustomAction", true, true, true, false, true, 0, "Nothing", "ran"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Package p;
    if (c.dialog) p.Table("Dialog");
    if (c.events) p.Table("ControlEvent");
    if (c.actions) p.Table("CustomAction");
    if (c.wizard) {
      WizardControlTable(p);
      Step(p, "Start", 1, "NextDlg", "", c.skipped ? "Off" : "");
    }
    if (c.events) {
      Event(p, "NextDlg", "Next", "DoAction", "ForeignAction", "1", 1);
      Event(p, "NextDlg", "Next", "[AFTER]", "ran", "1", 2);
    }
    MSIHANDLE h = p.Open();
    // Would fail the replay, were it run.
    RegisterForeignAction(ERROR_INSTALL_FAILURE);
    EXPECT_EQ(Search(h, "Start", "On"), c.result);
    EXPECT_EQ(GetProp(h, "VmrNextWizardDialog"), c.next);
    EXPECT_EQ(GetProp(h, "AFTER"), c.after);
    EXPECT_EQ(GetProp(h, "FOREIGN_RAN"), "");
  }
}

TEST(WizardEndEvent, DialogNameThatBreaksTheQueryFails) {
  // A name holding an apostrophe cannot be put into a query text: the dialog
  // cannot be looked up and no event can be made for it.
  Package p;
  WizardTables(p);
  MSIHANDLE h = p.Open();
  EXPECT_EQ(viduzo::AddWizardEndEvent(h, "O'Brien"), 1627u);
  EXPECT_EQ(viduzo::AddWizardEndEvent(h, "OBrien"), 0u);
  EXPECT_EQ(EndEvents(h), Rows({EndRow("OBrien", kEndBase)}));
}

struct EndCase {
  const char* name;
  int attributes;  // -1 null, -2 no Dialog row
  std::vector<std::string> spawns;  // "-" for a null condition
  bool added;
  const char* suffix;
};

TEST(WizardEndEvent, ModalDialogsGetTheirClosingEvent) {
  const EndCase cases[] = {
      {"modeless", 1, {}, false, ""},
      {"no attribute bits", 0, {}, false, ""},
      {"keep-modeless", 16, {}, false, ""},
      {"modal", 2, {}, true, ""},
      {"visible modal", 3, {}, true, ""},
      {"system-modal", 9, {}, true, ""},
      {"null attributes", -1, {}, true, ""},
      {"no Dialog row", -2, {}, true, ""},
      {"one spawn condition", 3, {"P"}, true, " And Not ((P))"},
      {"two spawn conditions", 3, {"A = 1", "B"}, true, " And Not ((A = 1) Or (B))"},
      {"a spawn that always holds", 3, {"P", "1"}, false, ""},
      {"a spawn without condition", 3, {"P", "-"}, false, ""},
      {"spawns of a modeless dialog", 1, {"P"}, false, ""},
  };
  for (const EndCase& c : cases) {
    SCOPED_TRACE(c.name);
    Package p;
    WizardTables(p);
    Step(p, "Start", 1, "TargetDlg", "", "");
    if (c.attributes != -2) Dialog(p, "TargetDlg", c.attributes);
    int ordering = 1;
    for (const std::string& spawn : c.spawns) {
      Event(p, "TargetDlg", "Next", "SpawnDialog", "Spawned" + std::to_string(ordering),
            spawn == "-" ? "" : spawn, ordering);
      ++ordering;
    }
    // Events that are no SpawnDialog on Next do not count.
    Event(p, "TargetDlg", "Back", "SpawnDialog", "BackDlg", "1", 7);
    Event(p, "TargetDlg", "Next", "NewDialog", "OtherDlg", "1", 8);
    Event(p, "OtherDlg", "Next", "SpawnDialog", "OtherSpawn", "1", 9);
    MSIHANDLE h = p.Open();
    EXPECT_EQ(Search(h, "Start", "Yes"), 0u);
    EXPECT_EQ(GetProp(h, "VmrNextWizardDialog"), "TargetDlg");
    Rows expected;
    if (c.added) expected.push_back(EndRow("TargetDlg", kEndBase + std::string(c.suffix)));
    EXPECT_EQ(EndEvents(h), expected);
  }
}

// A wizard in which each of `skipped` switched-off dialogs passes the search on
// to the next; the last leads to a dialog that is shown.
void SkipChain(Package& p, int skipped) {
  WizardTables(p);
  for (int i = 0; i < skipped; ++i) {
    std::string from = "D" + std::to_string(i), to = "D" + std::to_string(i + 1);
    Step(p, from, 1, to, "", "off");
    Event(p, to, "Next", "[VmrCurrentDialog]", to, "1", 1);
    Event(p, to, "Next", "DoAction", "SearchNewDialog", "1", 2);
  }
  Step(p, "D" + std::to_string(skipped), 1, "ShownDlg", "", "on");
}

TEST(WizardSearch, NestedSearchesAreBounded) {
  const int bound = viduzo::kMaxNestedDialogSearches;
  ASSERT_EQ(bound, 32);  // the README promises this bound to package engineers
  for (int skipped : {bound - 1, bound}) {
    SCOPED_TRACE(skipped);
    Package p;
    SkipChain(p, skipped);
    MSIHANDLE h = p.Open();
    bool within = skipped + 1 <= bound;
    EXPECT_EQ(Search(h, "D0", "on"), within ? 0u : 1627u);
    EXPECT_EQ(GetProp(h, "VmrNextWizardDialog"), within ? "ShownDlg" : "Nothing");
  }
}

TEST(WizardSearch, DialogsLeadingBackToOneAnotherStop) {
  Package p;
  WizardTables(p);
  Step(p, "ADlg", 1, "BDlg", "", "B");
  Step(p, "BDlg", 1, "ADlg", "", "A");
  for (const char* dialog : {"ADlg", "BDlg"}) {
    Event(p, dialog, "Next", "[VmrCurrentDialog]", dialog, "1", 1);
    Event(p, dialog, "Next", "DoAction", "SearchNewDialog", "1", 2);
  }
  MSIHANDLE h = p.Open();
  EXPECT_EQ(Search(h, "ADlg", "Welcome"), 1627u);
  EXPECT_EQ(GetProp(h, "VmrNextWizardDialog"), "Nothing");
#ifndef _WIN32
  EXPECT_EQ(winsim::DebugLines(),
            std::vector<std::string>({"SearchNewDialog: switched-off dialogs lead back to one "
                                      "another; search stopped"}));
#endif
  // The bound is per search: the next one starts from the top again.
  SetProp(h, "VmrCurrentDialog", "BDlg");
  EXPECT_EQ(Search(h, "BDlg", "A"), 0u);
  EXPECT_EQ(GetProp(h, "VmrNextWizardDialog"), "ADlg");
}

struct ReplayCase {
  const char* name;
  std::string event;
  std::string argument;
  std::string condition;
  UINT result;
  const char* after;  // AFTER once the replay went on past the event
};

TEST(WizardReplay, EventOutcomes) {
  const ReplayCase cases[] = {
      {"unknown action goes on", "DoAction", "NoSuchAction", "1", 0, "ran"},
      {"failing action stops", "DoAction", "StopAction", "1", 1603, ""},
      {"library action not exported", "DoAction", "NotExported", "1", 1627, ""},
      {"library action without target", "DoAction", "NoTarget", "1", 1627, ""},
      {"library action failing", "DoAction", "FailingOwn", "1", 234, ""},
      {"property without bracket", "[BROKEN", "x", "1", 0, "ran"},
      {"other event", "Reset", "0", "1", 0, "ran"},
      {"NewDialog with an unreadable argument", "NewDialog", std::string(256, 'a'), "1", 0, "ran"},
      {"1024-character condition", "[X]", "x", "1 OR " + std::string(1019, 'A'), 234, ""},
      {"1023-character condition", "[X]", "x", "1 OR " + std::string(1018, 'A'), 0, "ran"},
      {"256-character event", "[" + std::string(254, 'E') + "]", "x", "1", 234, ""},
      {"256-character argument", "[X]", std::string(256, 'a'), "1", 234, ""},
  };
  for (const ReplayCase& c : cases) {
    SCOPED_TRACE(c.name);
    Package p;
    WizardTables(p);
    Step(p, "Start", 1, "HiddenDlg", "", "Hidden");
    Event(p, "HiddenDlg", "Next", c.event, c.argument, c.condition, 1);
    Event(p, "HiddenDlg", "Next", "[AFTER]", "ran", "1", 2);
    CustomAction(p, "StopAction", 19, "", "Stopped");
    CustomAction(p, "NotExported", 1, kLibraryKey, "NoSuchExport");
    CustomAction(p, "NoTarget", 1, kLibraryKey, "");
    // The library's own action that fails: a sample view of a display text
    // too long to read.
    CustomAction(p, "FailingOwn", 1, kLibraryKey, "DisableDialogCtrls");
    MSIHANDLE h = p.Open();
    SetProp(h, "SelectedDialogDisplay", std::string(256, 'x'));
    EXPECT_EQ(Search(h, "Start", "Shown"), c.result);
    EXPECT_EQ(GetProp(h, "AFTER"), c.after);
  }
}

TEST(WizardReplayDbcs, PropertyNameWithBracketTrailByte) {
  if (GetACP() != 932) GTEST_SKIP() << "needs code page 932";
  // "\x83\x5D" is one character whose trail byte is "]": the name ends at the
  // real bracket after it.
  const std::string name = "DB\x83\x5D" "CS";
  Package p;
  WizardTables(p);
  Step(p, "Start", 1, "HiddenDlg", "", "Hidden");
  Event(p, "HiddenDlg", "Next", "[" + name + "]", "set", "1", 1);
  MSIHANDLE h = p.Open();
  EXPECT_EQ(Search(h, "Start", "Shown"), 0u);
  EXPECT_EQ(GetProp(h, name), "set");
  EXPECT_EQ(GetProp(h, "DB\x83"), "");
}

#ifndef _WIN32
TEST(WizardReplay, ForeignActionNotCalledGoesOnOtherResultsStop) {
  for (UINT result : {ERROR_FUNCTION_NOT_CALLED, ERROR_INSTALL_USEREXIT}) {
    Package p;
    FourDialogWizard(p);
    MSIHANDLE h = p.Open();
    RegisterForeignAction(result);
    bool goesOn = result == ERROR_FUNCTION_NOT_CALLED;
    EXPECT_EQ(Search(h, "WelcomeDlg", "Options"), goesOn ? 0u : result);
    EXPECT_EQ(GetProp(h, "VmrNextWizardDialog"), goesOn ? "OptionsDlg" : "Nothing");
  }
}

TEST(WizardSearch, EnableDialogsThatCannotBeReadFails) {
  Package p;
  FourDialogWizard(p);
  MSIHANDLE h = p.Open();
  SetProp(h, "VmrCurrentDialog", "WelcomeDlg");
  SetProp(h, "VmrCurrentCtrlSelection", "Next");
  winsim::FailHeapAllocation(0);
  EXPECT_EQ(CallAction(h, "SearchNewDialog"), 1627u);
  winsim::ResetHeapFailure();
}
#endif

// ---- sample view ------------------------------------------------------------

Rows Disabled(MSIHANDLE h) {
  return QueryRows(h, "SELECT * FROM `ControlCondition`");
}

std::vector<std::string> DisableRow(const std::string& dialog, const std::string& control) {
  return {dialog, control, "Disable", "DisplaySampleDialog=1"};
}

TEST(WizardSample, CycleDisablesAndEnablesTheDialog) {
  Package p;
  FourDialogWizard(p);
  MSIHANDLE h = p.Open();
  SetProp(h, "SelectedDialogDisplay", "Ready to install");

  EXPECT_EQ(CallAction(h, "DisableDialogCtrls"), 0u);
  EXPECT_EQ(GetProp(h, "Dialog2Display"), "FinishDlg");
  EXPECT_EQ(GetProp(h, "DisplaySampleDialog"), "1");
  EXPECT_EQ(Disabled(h), Rows({DisableRow("FinishDlg", "Install")}));

  // Twice without closing: the engine refuses the row that is there already.
  EXPECT_EQ(CallAction(h, "DisableDialogCtrls"), 1627u);

  SetProp(h, "Dialog2Display", "");
  EXPECT_EQ(CallAction(h, "EnableDialogCtrls"), 0u);
  EXPECT_EQ(GetProp(h, "ToggleCloseDisplay"), "1");
  EXPECT_EQ(GetProp(h, "DisplaySampleDialog"), "0");
  EXPECT_EQ(GetProp(h, "Dialog2Display"), "FinishDlg");
  EXPECT_TRUE(Disabled(h).empty());

  // Closed already: only the toggle says so.
  EXPECT_EQ(CallAction(h, "EnableDialogCtrls"), 0u);
  EXPECT_EQ(GetProp(h, "ToggleCloseDisplay"), "0");
}

TEST(WizardSample, OnlyInputControlsButCancelAreDisabled) {
  const char* const input[] = {"PathEdit", "RadioButtonGroup", "PushButton", "DirectoryList",
                               "DirectoryCombo", "VolumeSelectCombo", "ListBox", "CheckBox",
                               "Edit", "VolumeCostList", "SelectionTree"};
  const char* const other[] = {"Text", "Bitmap", "Line", "GroupBox", "pushbutton", "Edi",
                               "ScrollableText", "ProgressBar"};
  Package p;
  FourDialogWizard(p);
  Rows expected;
  for (const char* type : input) {
    Control(p, "AllDlg", std::string("C") + type, type);
    expected.push_back(DisableRow("AllDlg", std::string("C") + type));
  }
  for (const char* type : other) Control(p, "AllDlg", std::string("C") + type, type);
  Control(p, "AllDlg", "Cancel", "PushButton");
  Control(p, "OtherDlg", "Next", "PushButton");
  MSIHANDLE h = p.Open();
  SetProp(h, "SelectedDialogDisplay", "AllDlg");  // not in the mapping: the dialog's name
  SetProp(h, "Dialog2Display", "Earlier");
  EXPECT_EQ(CallAction(h, "DisableDialogCtrls"), 0u);
  EXPECT_EQ(GetProp(h, "Dialog2Display"), "Earlier");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Disabled(h), expected);
#ifndef _WIN32
  // Wine's DELETE removes only every other matching row; Windows removes all.
  EXPECT_EQ(CallAction(h, "EnableDialogCtrls"), 0u);
  EXPECT_TRUE(Disabled(h).empty());
#endif
}

TEST(WizardSample, ControlRowsThatCannotBeRead) {
  // A type fits 24 characters, a control name 54; a longer one ends the walk
  // with the engine's error.
  struct Case {
    std::string type, name;
    UINT result;
    bool second;  // the second control was disabled
  };
  const Case cases[] = {
      {std::string(24, 'T'), "B", 0, false},
      {std::string(25, 'T'), "B", 234, false},
      {"Edit", std::string(54, 'n'), 0, true},
      {"Edit", std::string(55, 'n'), 234, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type.size() + c.name.size());
    Package p;
    FourDialogWizard(p);
    Control(p, "LongDlg", "A", "PushButton");
    Control(p, "LongDlg", c.name, c.type);
    MSIHANDLE h = p.Open();
    SetProp(h, "SelectedDialogDisplay", "LongDlg");
    EXPECT_EQ(CallAction(h, "DisableDialogCtrls"), c.result);
    Rows expected = {DisableRow("LongDlg", "A")};
    if (c.second) expected.push_back(DisableRow("LongDlg", c.name));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Disabled(h), expected);
    EXPECT_EQ(GetProp(h, "DisplaySampleDialog"), c.result == 0 ? "1" : "");
  }
}

TEST(WizardSample, EmptyControlFieldsEndTheWalk) {
  // A package whose Control table allows what the engine's does not: a control
  // without a type, or without a name, ends the walk without an error.
  for (bool noName : {false, true}) {
    SCOPED_TRACE(noName ? "no name" : "no type");
    Package p;
    p.Table("ControlCondition");
    p.Table("Dialog");
    p.Sql("CREATE TABLE `Control` (`Dialog_` CHAR(72) NOT NULL, `Control` CHAR(50), `Type` "
          "CHAR(20) PRIMARY KEY `Dialog_`, `Control`)");
    p.Sql("INSERT INTO `Control` (`Dialog_`, `Control`, `Type`) VALUES ('Dlg', 'A', 'Edit')");
    if (noName)
      p.Sql("INSERT INTO `Control` (`Dialog_`, `Type`) VALUES ('Dlg', 'Edit')");
    else
      p.Sql("INSERT INTO `Control` (`Dialog_`, `Control`) VALUES ('Dlg', 'B')");
    p.Sql("INSERT INTO `Control` (`Dialog_`, `Control`, `Type`) VALUES ('Dlg', 'C', 'Edit')");
    MSIHANDLE h = p.Open();
    SetProp(h, "SelectedDialogDisplay", "Dlg");
    EXPECT_EQ(CallAction(h, "DisableDialogCtrls"), 0u);
    // A row without a name comes first (null keys sort first).
    EXPECT_EQ(Disabled(h), noName ? Rows() : Rows({DisableRow("Dlg", "A")}));
    EXPECT_EQ(GetProp(h, "DisplaySampleDialog"), "1");
  }
}

TEST(WizardSample, LongDialogNameIsCutTo255Characters) {
  const std::string name(300, 'D');
  Package p;
  FourDialogWizard(p);
  Mapping(p, name, 8, "Long", "Long name");
  Control(p, name.substr(0, 255), "Edit1", "Edit");
  Control(p, name.substr(0, 256), "Edit2", "Edit");
  MSIHANDLE h = p.Open();
  SetProp(h, "SelectedDialogDisplay", "Long name");
  EXPECT_EQ(CallAction(h, "DisableDialogCtrls"), 0u);
  EXPECT_EQ(GetProp(h, "Dialog2Display"), name);
  EXPECT_EQ(Disabled(h), Rows({DisableRow(name.substr(0, 255), "Edit1")}));
}

TEST(WizardSample, NoActiveDatabase) {
  EXPECT_EQ(viduzo::DisableControls(0, "FinishDlg"), 1627u);
  EXPECT_EQ(viduzo::RemoveDisableConditions(0, "FinishDlg"), 1627u);
  EXPECT_EQ(viduzo::DialogForDisplayText(0, "Ready to install"), nullptr);
}

TEST(WizardSample, NothingToDo) {
  Package p;
  FourDialogWizard(p);
  Control(p, "WelcomeDlg", "Cancel", "PushButton");
  Control(p, "WelcomeDlg", "Logo", "Bitmap");
  // A dialog listed without a display text: an empty selection never finds it.
  p.Sql("INSERT INTO `VmrDialogMapping` (`Dialog`, `Order`) VALUES ('UnlistedDlg', 9)");
  MSIHANDLE h = p.Open();

  // No dialog chosen: nothing happens.
  EXPECT_EQ(CallAction(h, "DisableDialogCtrls"), 0u);
  EXPECT_EQ(GetProp(h, "DisplaySampleDialog"), "");

  // A dialog with nothing to disable is still shown as a sample.
  SetProp(h, "SelectedDialogDisplay", "WelcomeDlg");
  EXPECT_EQ(CallAction(h, "DisableDialogCtrls"), 0u);
  EXPECT_EQ(GetProp(h, "DisplaySampleDialog"), "1");
  EXPECT_TRUE(Disabled(h).empty());

  // Closing without a chosen dialog only resets the flags.
  SetProp(h, "SelectedDialogDisplay", "");
  EXPECT_EQ(CallAction(h, "EnableDialogCtrls"), 0u);
  EXPECT_EQ(GetProp(h, "ToggleCloseDisplay"), "1");
  EXPECT_EQ(GetProp(h, "DisplaySampleDialog"), "0");
  EXPECT_EQ(GetProp(h, "Dialog2Display"), "");

  for (const char* shown : {"", "0", "00", "no", "0x1"}) {
    SCOPED_TRACE(shown);
    SetProp(h, "DisplaySampleDialog", shown);
    SetProp(h, "ToggleCloseDisplay", "x");
    EXPECT_EQ(CallAction(h, "EnableDialogCtrls"), 0u);
    EXPECT_EQ(GetProp(h, "ToggleCloseDisplay"), "0");
    EXPECT_EQ(GetProp(h, "DisplaySampleDialog"), shown);
  }
  // Any other leading number counts as a sample being shown.
  SetProp(h, "DisplaySampleDialog", "2");
  SetProp(h, "SelectedDialogDisplay", "Ready to install");
  EXPECT_EQ(CallAction(h, "EnableDialogCtrls"), 0u);
  EXPECT_EQ(GetProp(h, "ToggleCloseDisplay"), "1");
  EXPECT_EQ(GetProp(h, "Dialog2Display"), "FinishDlg");
}

TEST(WizardSample, UnreadableDisplayTextFails) {
  Package p;
  FourDialogWizard(p);
  MSIHANDLE h = p.Open();
  SetProp(h, "SelectedDialogDisplay", std::string(256, 'x'));
  EXPECT_EQ(CallAction(h, "DisableDialogCtrls"), 234u);
  SetProp(h, "DisplaySampleDialog", "1");
  EXPECT_EQ(CallAction(h, "EnableDialogCtrls"), 234u);
  EXPECT_EQ(GetProp(h, "DisplaySampleDialog"), "0");
  // Without Control and ControlCondition tables the controls cannot be found.
  Package bare;
  bare.Table("Dialog");
  MSIHANDLE b = bare.Open();
  SetProp(b, "SelectedDialogDisplay", "FinishDlg");
  EXPECT_EQ(CallAction(b, "DisableDialogCtrls"), 1615u);
  EXPECT_EQ(GetProp(b, "DisplaySampleDialog"), "");
  SetProp(b, "DisplaySampleDialog", "1");
  EXPECT_EQ(CallAction(b, "EnableDialogCtrls"), 1615u);
}

TEST(WizardSample, DisplayTextsMapToDialogsAndEnableKeys) {
  Package p;
  FourDialogWizard(p);
  // The query object cuts its query at 256 characters: room for a display
  // text of 200.
  const std::string long200(200, 'L');
  Mapping(p, "LongDlg", 4, "Long", long200);
  Mapping(p, "LongerDlg", 7, "Longer", long200 + "M");
  Mapping(p, "NoKeyDlg", 5, "", "No key");
  MSIHANDLE h = p.Open();
  HandleCheck check;
  struct Case {
    std::string text;
    const char* dialog;  // null: none
    const char* key;
  };
  const Case cases[] = {
      {"Installation options", "OptionsDlg", "Options"},
      {"installation options", nullptr, nullptr},
      {long200, "LongDlg", "Long"},
      {long200.substr(1), nullptr, nullptr},
      {long200 + "M", nullptr, nullptr},
      {long200 + std::string(100, 'M'), nullptr, nullptr},
      {"No key", "NoKeyDlg", nullptr},
      {"It's", nullptr, nullptr},
  };
  viduzo::MSI caller(h);
  ASSERT_TRUE(caller.OpenActiveDatabase(h));
  ASSERT_EQ(caller.FindRecord("Dialog", "FinishDlg", nullptr, nullptr, nullptr, nullptr,
                              "Dialog"),
            0u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    char* dialog = viduzo::DialogForDisplayText(h, c.text.c_str());
    char* key = viduzo::EnableKeyForDisplayText(caller, c.text.c_str());
    EXPECT_EQ(dialog ? std::string(dialog) : "(null)", c.dialog ? c.dialog : "(null)");
    EXPECT_EQ(key ? std::string(key) : "(null)", c.key ? c.key : "(null)");
    viduzo::MSI::FreeText(dialog);
    viduzo::MSI::FreeText(key);
  }
  // The caller's row and database are untouched.
  EXPECT_STREQ(caller.GetFieldString(1), "FinishDlg");
  EXPECT_EQ(caller.FetchRecord(), 259u);
  caller.CloseDatabase();
}

// ---- through the engine ---------------------------------------------------------

// The library as a file for the package's Binary table: the DLL itself under
// Wine, winsim's stand-in for its image natively.
std::string LibraryFile() {
#ifdef _WIN32
  char path[MAX_PATH] = "";
  GetModuleFileNameA(LoadLibraryA("viduzo.dll"), path, sizeof path);
  return path;
#else
  std::string path = TempFolder("lib") + "viduzo.dll";
  WriteFile(path, winsim::ModuleImage("viduzo.dll"));
  return path;
#endif
}

TEST(WizardEngine, NextButtonRunsTheSearchAsDllCustomAction) {
  Package p;
  FourDialogWizard(p);
  p.Table("Binary").Binary(kLibraryKey, LibraryFile());
  CustomAction(p, "SearchNewDialog", 1, kLibraryKey, "SearchNewDialog");
  MSIHANDLE h = p.Open();
  RegisterForeignAction(ERROR_SUCCESS);
  SetProp(h, "VmrCurrentDialog", "WelcomeDlg");
  SetProp(h, "VmrCurrentCtrlSelection", "Next");
  SetProp(h, "ENABLE_DIALOGS", "Welcome,Options,Finish");
  {
    HandleCheck check;
    EXPECT_EQ(MsiDoActionA(h, "SearchNewDialog"), 0u);
  }
  EXPECT_EQ(GetProp(h, "VmrNextWizardDialog"), "OptionsDlg");
  EXPECT_EQ(GetProp(h, "INSTALLDIR"), "C:\\Apps\\Velmar");
  EXPECT_EQ(GetProp(h, "FOREIGN_RAN"), "yes");
  EXPECT_EQ(EndEvents(h).size(), 1u);
}

struct DllActionCase {
  const char* action;
  int type;
  const char* source;
  const char* target;
  UINT result;
  const char* toggle;  // ToggleCloseDisplay afterwards
};

TEST(WizardEngine, DllCustomActionResults) {
  const DllActionCase cases[] = {
      {"CloseSampleViaEngine", 1, kLibraryKey, "EnableDialogCtrls", 0, "0"},
      // 234 from the export is no result the engine knows: a failure.
      {"SampleTooLong", 1, kLibraryKey, "DisableDialogCtrls", 1603, "x"},
      {"SampleTooLongIgnored", 1 + 0x40, kLibraryKey, "DisableDialogCtrls", 0, "x"},
      {"SearchWithoutDialog", 1, kLibraryKey, "SearchNewDialog", 1603, "x"},
      {"NoBinaryRow", 1, "Elsewhere", "EnableDialogCtrls", 1627, "x"},
#ifndef _WIN32
      // Windows stops at an export that is not there (Wine reports success).
      {"NoSuchExport", 1, kLibraryKey, "NoSuchExport", 1603, "x"},
#endif
  };
  Package p;
  FourDialogWizard(p);
  p.Table("Binary").Binary(kLibraryKey, LibraryFile());
  for (const DllActionCase& c : cases) CustomAction(p, c.action, c.type, c.source, c.target);
  MSIHANDLE h = p.Open();
  SetProp(h, "SelectedDialogDisplay", std::string(256, 'x'));
  for (const DllActionCase& c : cases) {
    SCOPED_TRACE(c.action);
    SetProp(h, "ToggleCloseDisplay", "x");
    HandleCheck check;
    EXPECT_EQ(MsiDoActionA(h, c.action), c.result);
    EXPECT_EQ(GetProp(h, "ToggleCloseDisplay"), c.toggle);
  }
}

}  // namespace
