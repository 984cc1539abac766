#!/usr/bin/env python3
"""Walks the sample package's setup wizard in Wine's msiexec with its full UI
on an Xvfb display (wizardui.py) and checks what the pages showed and what the
installation's verbose log recorded.

  check_wizard.py --msi .../qvaclient-MSI_ALL.msi --dialogs .../vdzdialogs.exe
                  --work DIR [--template PREFIX] ENABLE_DIALOGS=...

The expected values come from the package's own tables (ui/*.idt, wizard.wxi)
and the actions' rules: which pages ENABLE_DIALOGS leaves on, what the lists
hold, what the summary report says of each feature. Prints PASS or FAIL per
check and exits 1 when any failed; a page that does not appear fails with the
last screenshot's path.
"""

import argparse
import signal
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import qvacycle as q  # noqa: E402
import wizardui as ui  # noqa: E402
from check_package import Report  # noqa: E402

# The pages each run moves on from (Next), as DialogWizardControl leads
# through them: the enable keys of the pages' rows against ENABLE_DIALOGS.
PAGES_SHOWN = {
    "yES": ["VmrWelcomeDlg", "VmrClientNameDlg", "VmrFolderDlg", "VmrDialogsDlg",
            "VmrFeaturesDlg", "VmrSummaryDlg"],
    "ClientName,Summary": ["VmrWelcomeDlg", "VmrClientNameDlg", "VmrSummaryDlg"],
}
# The windows the walk meets besides them: the refused name's error, the page
# of wizard pages again after the list move, and the sample of the summary.
EXTRA_WINDOWS = {"VmrClientNameDlg": ["VmrEntryErrorDlg"],
                 "VmrDialogsDlg": ["VmrDialogsDlg", "VmrSummaryDlg"]}

REFUSED_TEXT = ("The client name may not contain \\ / : * ? \" < > | , . ; parentheses or "
                "square brackets.")
# The summary: the two fixed Report rows and one line per feature from the
# template row, in Feature table order (level 1 features are installed
# locally, the level 1000 ones are left absent).
REPORT = "\n".join([
    "Velmar QVA Client (complete) 9.1.0 is ready to be installed",
    "Client name: " + ui.GIVEN_NAME,
    "Install folder: " + q.CLIENT_DIR,
    "",
    "What happens to each feature",
    "QVA Client: Local", "Single sign-on: Local", "Hublane launcher: Local",
    "Hublane agent: Local", "Administration guide: Absent", "Language packs: Absent",
    "German: Absent", "French: Absent"])
# The dialog lists (VmrDialogMapping and ListBox.idt): the page of wizard
# pages is skipped by default; moved back, it takes its place by Order.
LISTS_BEFORE = [["Client name", "Install folder", "Optional features", "Summary"],
                ["Wizard pages"]]
LISTS_AFTER = [["Client name", "Install folder", "Wizard pages", "Optional features", "Summary"],
               []]
# The feature lists: the optional features, not installed and not requested.
FEATURE_LISTS = [["Administration guide", "Language packs", "German", "French"], []]


def controls_enabled(dialogs):
    """{enabled: [text]} of the input controls (buttons, lists) of the page read."""
    found = {True: [], False: []}
    for _, controls in dialogs[:1]:
        for cls, enabled, text, items in controls:
            if cls.lower() in ("button", "listbox"):
                found[enabled].append(text or (items[0] if items else cls))
    return found


def check(r, wizard, found, log, code, enable):
    shown = PAGES_SHOWN[enable]
    r.equal("msiexec exit code", code, 0)
    r.equal("the log lists the pages moved on from", log.prop("VmrPagesShown"),
            "".join(page + ";" for page in shown))
    for dialog in ("VmrWelcomeDlg", "VmrProgressDlg", "VmrFinishDlg"):
        r.check("the engine ran the dialog %s from its UI sequence" % dialog,
                len(log.results(dialog)) == 1, "results %r" % log.results(dialog))
    met = [dialog for dialog, _ in wizard.seen if dialog != "VmrProgressDlg"]
    expected = []
    for page in shown:
        expected += [page] + EXTRA_WINDOWS.get(page, [])
    r.equal("the windows met on the display", met, expected + ["VmrFinishDlg"])

    r.equal("the refused client name shows the package's error text", found.get("refused"),
            [REFUSED_TEXT])
    r.equal("the summary page shows the merged report", found.get("report"), [REPORT])
    r.equal("the name typed in the wizard is installed",
            wizard.prefix.registry().value("Software\\Velmar\\QVA Client", "ClientName"), ui.GIVEN_NAME)
    if "VmrDialogsDlg" in shown:
        r.equal("the dialog lists before and after the move", found.get("lists"),
                [LISTS_BEFORE, LISTS_AFTER])
        # Every input control but Cancel is switched off in the sample.
        sample = controls_enabled(found.get("sample", []))
        r.equal("the sample view: only Cancel is enabled, Back and Install are not",
                (sample[True], sorted(sample[False])), (["Cancel"], ["&Install", "< &Back"]))
        r.equal("the summary page after the sample: its buttons enabled again",
                controls_enabled(found.get("summary", []))[False], [])
        page = controls_enabled(found.get("features", []))
        r.equal("the feature page after the sample: every button and list enabled",
                (len(page[True]), page[False]), (9, []))
        r.equal("the feature lists", ui.list_items(found.get("features", [("", [])])[0][1]),
                FEATURE_LISTS)
    else:
        # The folder page was passed on: its Next events ran inside the search.
        r.equal("the passed-on folder page's check ran", log.prop("ClientPathValid." + q.CORE), "Yes")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--msi", required=True)
    parser.add_argument("--dialogs", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--template")
    parser.add_argument("enable", help="ENABLE_DIALOGS=...")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    enable = args.enable.partition("=")[2]
    if not args.enable.startswith("ENABLE_DIALOGS=") or enable not in PAGES_SHOWN:
        parser.error("ENABLE_DIALOGS= one of %s" % ", ".join(PAGES_SHOWN))
    work = Path(args.work).resolve()
    r = Report("wizard " + enable)
    wizard = display = None
    try:
        wizard, display = ui.session(work / "wineprefix", args.template, args.dialogs, work)
        wizard.start(Path(args.msi).resolve(), [args.enable], work / "install.log")
        found = ui.walk(wizard)
        code = wizard.wait_exit(120)
        wizard.prefix.wait_idle()
        check(r, wizard, found, q.Log(work / "install.log"), code, enable)
    except (ui.WizardError, q.WineError, OSError, ValueError) as error:
        r.check("the wizard ran to its end", False, str(error))
    finally:
        if wizard:
            wizard.close()
        if display:
            display.close()
    print("wizard %s: %d passed, %d failed" % (enable, r.passed, r.failed))
    return 1 if r.failed else 0


if __name__ == "__main__":
    sys.exit(main())
