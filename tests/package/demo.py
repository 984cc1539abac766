#!/usr/bin/env python3
"""A readable account of one install and removal of the sample Velmar QVA
Client package under Wine: what viduzo's custom actions did, what they left in
the installation (properties, table rows) and what changed on the machine.

  demo.py --type MSI_ALL --msi build/demo/packages/qvaclient-MSI_ALL.msi
          --work build/demo/run [PROPERTY=value ...]

scripts/demo builds everything first and runs this.
"""

import argparse
import sys
import textwrap
from collections import defaultdict
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import qvacycle as q  # noqa: E402

SUFFIXES = {"." + q.CORE: ".<core>", "." + q.LAUNCHER: ".<launcher>", "." + q.AGENT: ".<agent>",
            ".71C5A0E8_94D2_4E6B_8A17_F3B25D0C69E4": ".<scratch>", "." + q.TREE_KEY: ".<tree>"}
DESCRIPTIONS = {
    "MSIHL": "the client with the classic Hublane launcher",
    "MSI_HLA": "the client with the Hublane agent",
    "MSI_ALL": "the client with both launchers",
}
DEFAULT_PROPS = ["CLIENT_NAME=Reception Desk 04 West Wing", "ENABLE_TROV=Yes"]
INVALID_PROPS = ["CLIENT_NAME=desk:7"]
# Item properties of the tree walks and the validation scratch value: they
# only carry the last item tested, so the account leaves them out.
NOT_SHOWN = {"VmrCoreRemoveFileDirectory", "VmrCoreRemoveFileFile", "VmrCoreMoveFileDirectory",
             "VmrCoreMoveFileFile", "TEMP.71C5A0E8_94D2_4E6B_8A17_F3B25D0C69E4"}
WIDTH = 100
NAME_COLUMN = 32
RESULT_COLUMN = 12
NOTE_COLUMN = 2 + NAME_COLUMN + 1 + RESULT_COLUMN + 1


class Shortener:
    """Shortens names and paths for display: module suffixes, and the long
    folders of the user profile as the engine's folder properties."""

    def __init__(self, log=None):
        self.folders = []
        if log:
            for prop in ("ProgramMenuFolder",):
                value = log.prop(prop)
                if value:
                    self.folders.append((value, "[%s]" % prop))

    def __call__(self, text):
        for long_suffix, label in SUFFIXES.items():
            text = text.replace(long_suffix, label)
        for value, label in self.folders:
            if text.lower().startswith(value.lower()):
                text = label + text[len(value):]
        return text


def say(text, indent=2, hang=2):
    for line in textwrap.wrap(text, WIDTH - indent, subsequent_indent=" " * hang,
                              break_on_hyphens=False, break_long_words=False) or [""]:
        print(" " * indent + line)


def heading(text):
    print()
    print(text)
    print("-" * min(len(text), WIDTH))


def quoted(prop):
    name, _, value = prop.partition("=")
    return '%s="%s"' % (name, value) if " " in value else prop


def results_text(log, name):
    results = log.results(name)
    return ", ".join(q.RESULTS.get(r, str(r)) for r in results) if results else "not run"


def action_notes(log, given, short, properties=True):
    """For each wired action that ran: what it left behind, from the final
    property dump and the engine's file actions. A property that several
    actions write is shown with the last of them that ran."""
    notes = {}
    claimed = set()
    for name, props in reversed(q.WIRED_ACTIONS):
        lines = []
        notes[name] = lines
        if not log.results(name):
            continue
        if log.ran_inside("CostFinalize", name):
            lines.append("ran the standard action CostFinalize itself")
        for pattern in props:
            found = log.props_matching(pattern)
            if pattern.endswith("*"):
                if found and properties:
                    lines.append("%d folders became temporary Directory rows %sn<tree> (each key "
                                 "also a property holding the path):" % (len(found), pattern[:-1]))
                    lines += ["  " + short(path) for path in sorted(set(found.values()))]
                continue
            for prop, value in sorted(found.items()):
                if prop in NOT_SHOWN or prop in claimed or not properties:
                    continue
                claimed.add(prop)
                note = "%s = %s" % (short(prop), short(value))
                if prop in given and given[prop] != value:
                    note += "   (given: %s)" % given[prop]
                lines.append(note)
    for action, prefix, table in (("RemoveFileTree", "RM_FILE_", "RemoveFile"),
                                  ("MoveFileTree", "MV_FILE_", "MoveFile")):
        rows = log.tree_rows(prefix)
        if rows and log.results(action):
            notes[action].append("the engine's %ss carried out %d of its temporary %s rows"
                                 % (table, len(rows), table))
    return notes


def show_actions(log, given, properties=True):
    short = Shortener(log)
    notes = action_notes(log, given, short, properties)
    print("  %-*s %-*s %s" % (NAME_COLUMN, "custom action", RESULT_COLUMN, "result",
                            "what it left in the installation" if properties else ""))
    for name in q.WIRED_ACTION_NAMES:
        lines = notes.get(name) or [""]
        first = True
        for note in lines:
            # Paths listed under a note stay whole.
            wrapped = [note] if note.startswith("  ") else textwrap.wrap(
                note, WIDTH - NOTE_COLUMN, subsequent_indent="    ",
                break_on_hyphens=False, break_long_words=False) or [""]
            for piece in wrapped:
                if first:
                    print("  %-*s %-*s %s" % (NAME_COLUMN, short(name), RESULT_COLUMN,
                                            results_text(log, name), piece))
                    first = False
                else:
                    print(" " * NOTE_COLUMN + piece)
    failures = log.prop("VmrValidationFailures")
    if failures:
        print()
        say("The package's error action ValidationFailed.<core>, run by the actions above, "
            "recorded: %s" % short(failures))


def show_files(before, after, short, labels=()):
    """New and gone files and folders, one line per folder."""
    changes = 0
    for word, paths in (("gone", sorted(before - after)), ("new", sorted(after - before))):
        by_folder = defaultdict(list)
        for path in paths:
            if path.endswith("\\"):
                parent = path[:path.rstrip("\\").rfind("\\") + 1]
                by_folder[parent].append(path[len(parent):])
            else:
                parent = path[:path.rfind("\\") + 1]
                by_folder[parent].append(path[len(parent):])
        for folder in sorted(by_folder):
            label = next((text for start, text in labels if folder.lower().startswith(start.lower())), "")
            say("%-5s %s: %s%s" % (word, short(folder), ", ".join(sorted(by_folder[folder])),
                                   "   (%s)" % label if label else ""), hang=8)
            changes += 1
    if not changes:
        say("(nothing)")


# The registry the demo watches: the package's own keys, and the ".lnk2" file
# type that RegisterLNK2Type's temporary Registry rows make the engine write.
FILE_TYPE_KEYS = ("Software\\Classes\\.lnk2", "Software\\Classes\\lnkfile2")


def registry_places(prefix):
    reg = prefix.registry()
    places = reg.tree("Software\\Velmar")
    for key in FILE_TYPE_KEYS:
        places.update(reg.tree(key))
    return places


def show_registry(before, after):
    for key in sorted(set(before) | set(after), key=str.lower):
        if key not in before:
            values = ", ".join("%s=%s" % (n, v) for n, v in sorted(after[key].items(), key=lambda i: i[0].lower()))
            say("added   HKLM\\%s: %s" % (key, values), hang=10)
        elif key not in after:
            say("removed HKLM\\%s" % key)
        elif before[key] != after[key]:
            say("changed HKLM\\%s" % key)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--type", default="MSI_ALL", choices=q.PACKAGE_TYPES)
    parser.add_argument("--msi", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("props", nargs="*", help="public properties for the installation")
    args = parser.parse_args()
    msi = Path(args.msi).resolve()
    work = Path(args.work).resolve()
    work.mkdir(parents=True, exist_ok=True)
    props = args.props or DEFAULT_PROPS
    given = dict(p.partition("=")[::2] for p in props)
    prefix = q.Prefix(work / "wineprefix")
    tree_labels = [(q.OLD_CLIENT, "removed by RemoveFileTree's rows"),
                   (q.OLD_KEYSTORE, "moved by MoveFileTree's rows"),
                   (q.CLIENT_DIR + "keystore\\", "moved here by MoveFileTree's rows")]

    print("Velmar QVA Client sample package %s (%s), installed and removed under Wine"
          % (args.type, DESCRIPTIONS[args.type]))
    say("Module suffixes are shortened: .<core> = .%s, .<launcher> = .%s, .<agent> = .%s, "
        ".<tree> = .%s." % (q.CORE, q.LAUNCHER, q.AGENT, q.TREE_KEY), indent=0)
    try:
        prefix.boot()
        heading("1. An earlier client on the machine (planted in a fresh Wine prefix)")
        q.plant_earlier_installation(prefix)
        say("old client 8.4.2  %s (%d files), registered in HKLM\\SOFTWARE\\Velmar\\QVA Client 8"
            % (q.OLD_CLIENT, len(q.OLD_CLIENT_FILES)), hang=18)
        say("its keystore      %s (%d files)" % (q.OLD_KEYSTORE, len(q.OLD_KEYSTORE_FILES)), hang=18)
        say("client settings   %sHOSTCFG.INI [ZNClient] %s" % (
            q.CLIENT_DIR, " ".join("%s=%s" % item for item in q.CONFIG.items())), hang=18)
        say("client name file  C:\\ZNCNAME.INI ClientName=%s" % q.EARLIER_CLIENT_NAME, hang=18)
        files0 = q.snapshot(prefix)
        reg0 = registry_places(prefix)

        heading("2. Install: msiexec /i %s /qn %s" % (msi.name, " ".join(quoted(p) for p in props)))
        code, seconds, log = prefix.msiexec(["/i", str(msi), "/qn"] + props, work / "install.log")
        short = Shortener(log)
        say("exit code %d after %.1f s (verbose log: %s)" % (code, seconds, log.path))
        print()
        show_actions(log, given)
        files1 = q.snapshot(prefix)
        reg1 = registry_places(prefix)
        print()
        print("  Files and folders:")
        show_files(files0, files1, short, tree_labels)
        kept = [q.OLD_CLIENT + rel for rel in q.OLD_CLIENT_KEPT]
        kept += [q.OLD_KEYSTORE + rel for rel in q.OLD_KEYSTORE_KEPT]
        for path in kept:
            if q.exists(prefix, path):
                say("kept  %s   (a tree row's condition left it alone)" % path, hang=8)
        print("  Registry (the values are the actions' properties):")
        show_registry(reg0, reg1)

        heading("3. The client runs and writes files the package does not install")
        q.run_client(prefix)
        say(", ".join(q.CLIENT_DIR + rel for rel in q.RUNTIME_FILES))
        files2 = q.snapshot(prefix)

        heading("4. Remove: msiexec /x %s /qn" % msi.name)
        code, seconds, log = prefix.msiexec(["/x", str(msi), "/qn"], work / "remove.log")
        say("exit code %d after %.1f s (verbose log: %s)" % (code, seconds, log.path))
        print()
        show_actions(log, {}, properties=False)
        files3 = q.snapshot(prefix)
        reg3 = registry_places(prefix)
        print()
        print("  Taken away by the removal:")
        show_files(files2, files3, short)
        show_registry(reg1, reg3)
        print("  Left on the machine or gone, against the machine before the installation:")
        show_files(files0, files3, short, tree_labels)
        show_registry(reg0, reg3)

        heading("5. An invalid entry: msiexec /i %s /qn %s" % (msi.name, " ".join(INVALID_PROPS)))
        code, seconds, log = prefix.msiexec(["/i", str(msi), "/qn"] + INVALID_PROPS,
                                            work / "refused.log")
        error = log.prop("ValidationError." + q.CORE)
        say("exit code %d (1603 cut to 8 bits) after %.1f s" % (code, seconds))
        say("GetSystemState %s: ValidationError.<core> = %s, whose text is \"%s\""
            % (results_text(log, "GetSystemState"), short(error), log.prop(error)))
        say("StopOnInvalidEntry.<core> (type 19) %s: the installation ended before anything was "
            "installed (%s)" % (results_text(log, "StopOnInvalidEntry." + q.CORE),
                                "disk unchanged" if q.snapshot(prefix) == files3 else "DISK CHANGED"))
    finally:
        prefix.shutdown()
    return 0


if __name__ == "__main__":
    sys.exit(main())
