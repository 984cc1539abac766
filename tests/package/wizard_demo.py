#!/usr/bin/env python3
"""The sample package's setup wizard, walked in Wine's msiexec with its full UI
on an Xvfb display: one screenshot per page (and of the refused client name,
the sample view and the page after a list move), then the installation runs
to its end.

  wizard_demo.py --msi build/demo/packages/qvaclient-MSI_ALL.msi
                 --dialogs build/demo/bin/vdzdialogs.exe --work build/demo/wizard
                 [PROPERTY=value ...]

scripts/demo --wizard builds everything first and runs this.
"""

import argparse
import signal
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import qvacycle as q  # noqa: E402
import wizardui as ui  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--msi", required=True)
    parser.add_argument("--dialogs", required=True, help="vdzdialogs.exe")
    parser.add_argument("--work", required=True)
    parser.add_argument("props", nargs="*", help="public properties, e.g. ENABLE_DIALOGS=ClientName,Summary")
    args = parser.parse_args()
    # Ended from outside, the run still takes down its installer, Wine and Xvfb.
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))
    work = Path(args.work).resolve()
    for old in work.glob("*.png"):
        old.unlink()
    print("Velmar QVA Client sample package, its setup wizard under Wine (%s)"
          % (" ".join(args.props) or "every page shown"))
    wizard = display = None
    try:
        wizard, display = ui.session(work / "wineprefix", None, args.dialogs, work)
        wizard.start(Path(args.msi).resolve(), args.props, work / "install.log")
        found = ui.walk(wizard)
        code = wizard.wait_exit(120)
    except (ui.WizardError, q.WineError, OSError) as error:
        print("demo: %s" % error)
        return 1
    finally:
        if wizard:
            wizard.close()
        if display:
            display.close()

    print()
    print("Pages seen, in order (images in %s):" % work)
    for dialog, image in wizard.seen:
        print("  %-18s %s" % (dialog, image))
    print()
    if "refused" in found:
        print("The refused client name %r: %s" % (ui.REFUSED_NAME, " ".join(found["refused"])))
    for number, lists in enumerate(found.get("lists", []), 1):
        print("Wizard pages, visit %d: shown %s, skipped %s" % (number, lists[0], lists[1]))
    for title, controls in found.get("sample", [])[:1]:
        states = {True: [], False: []}
        for cls, enabled, text, _ in controls:
            if cls.lower() == "button":
                states[enabled].append(text.replace("&", ""))
        print("Sample view of %r: buttons enabled %s, switched off %s"
              % (ui.SAMPLED, states[True], states[False]))
    for title, controls in found.get("features", [])[:1]:
        lists = ui.list_items(controls)
        print("Optional features: left out %s, removed from an image %s" % (lists[0], lists[1]))
    for text in found.get("report", []):
        print("Summary report:")
        for line in text.splitlines():
            print("  " + line)
    print()
    print("msiexec ended with %d (verbose log: %s)" % (code, work / "install.log"))
    return 0 if code == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
