#!/usr/bin/env python3
"""Checks of viduzo-run at its boundary: what it prints and its exit code.

  run_tool.py CHECK --tool build/native/viduzo-run --packages build/native/packages --work DIR

CHECK is one of: loaders, system_state, errors, all_actions, sequence (each a ctest entry).
"""

import argparse
import json
import re
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
CORE = "5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60"
CLIENT_DIR = "C:\\Program Files\\Velmar\\QVA Client\\"
COSTED = ["CostInitialize", "FileCost", "SystemStateBetweenCostFinalize"]
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def run(tool, *args):
    return subprocess.run([str(tool), *map(str, args)], capture_output=True, text=True,
                          errors="replace", timeout=300)


def table_blocks(dump):
    """The --tables output as {table: text of its block}."""
    blocks, name = {}, None
    for line in dump.splitlines():
        if line.startswith("table "):
            name = line.split()[1]
            blocks[name] = ""
        blocks[name] += line + "\n"
    return blocks


def check_loaders(args):
    """An .msi read through libmsi and the same package as .idt files give the
    same tables; the package's own .idt sources give the tables the .msi holds."""
    msi = args.packages / "qvaclient-MSI_ALL.msi"
    folder = args.work / "dumped"
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    # msidump writes each table's stream files into <table>/ of the current
    # folder, and with -s every stream into _Streams/ as well.
    subprocess.run(["msidump", "-d", str(folder), "-t", "-s", str(msi.resolve())], check=True,
                   capture_output=True, cwd=folder)
    from_msi = run(args.tool, msi, "--tables")
    from_idt = run(args.tool, folder, "--tables")
    check(from_msi.returncode == 0 and from_idt.returncode == 0,
          "--tables failed: %s %s" % (from_msi.stderr, from_idt.stderr))
    msi_tables, idt_tables = table_blocks(from_msi.stdout), table_blocks(from_idt.stdout)
    check(len(msi_tables) >= 30, "only %d tables from the .msi" % len(msi_tables))
    check(sorted(msi_tables) == sorted(idt_tables),
          "tables differ: %s" % sorted(set(msi_tables) ^ set(idt_tables)))
    for name in msi_tables:
        check(msi_tables[name] == idt_tables.get(name), "table %s differs between loaders" % name)
    # The Binary stream came through both ways, byte for byte.
    check("<stream of" in msi_tables.get("Binary", ""), "no Binary stream read from the .msi")
    # The archive format's own conventions: control characters inside a field,
    # a code page before the table name, a stream in the folder named after
    # its table.
    handmade = args.work / "handmade"
    write(handmade / "Binary.idt", "Name\tData\ns72\tv0\nBinary\tName\nlogo\tlogo.ibd\n"
          "icon\tBinary.icon\n")
    for where, name, data in (("Binary", "logo.ibd", b"\x00\x01GIF"), ("_Streams", "Binary.icon", b"ICO")):
        (handmade / where).mkdir(exist_ok=True)
        (handmade / where / name).write_bytes(data)
    write(handmade / "Note.idt", "Key\tText\tCount\ns8\tL0\tI4\n1252\tNote\tKey\n"
          "a\tone\x19two\x10three\x11\t-7\nb\n")
    blocks = table_blocks(run(args.tool, handmade, "--tables").stdout)
    check(blocks.get("Note") == 'table Note (Key s8 key, Text L0, Count I4)\n'
          '  "a"\t"one\\ntwo\\tthree\\r"\t"-7"\n  "b"\t""\t""\n', "Note: %r" % blocks.get("Note"))
    check(re.search(r'"icon"\t<stream of 3 bytes.*\n  "logo"\t<stream of 5 bytes', blocks.get("Binary", "")),
          "Binary: %r" % blocks.get("Binary"))
    sources = table_blocks(run(args.tool, ROOT / "packages/qvaclient/tables", "--tables").stdout)
    check(sorted(sources) == ["IniFile", "MoveFile", "VmrMoveFileTree", "VmrRemoveFileTree"],
          "source tables: %s" % sorted(sources))
    for name, block in sources.items():
        check(block == msi_tables.get(name), "table %s of tables/%s.idt differs in the .msi" % (name, name))


def config(lines):
    return ["line %sHOSTCFG.INI=%s" % (CLIENT_DIR, line) for line in ["[ZNClient]"] + lines]


# GetSystemState after cost finalization of the sample package: the
# configuration file's lines, the properties given, and what the action must
# leave (None: the property is not set at all).
SYSTEM_STATE_CASES = [
    ("every entry taken", config(["PersistentCacheSize=52428800", "PersistentCacheMinBitmap=16384",
                                  "PersistentCachePath=C:\\QVACache\\",
                                  "LogFile=C:\\QVALogs\\znclient.log",
                                  "LogFileWin32=C:\\QVALogs\\zncwin32.log"]),
     ["property CLIENT_NAME=FRONTDESK-07"],
     {"PersistentCacheSize." + CORE: "52428800", "PersistentCacheBMP." + CORE: "16384",
      "Cache." + CORE: "C:\\QVACache\\", "LogFile." + CORE: "C:\\QVALogs\\znclient.log",
      "LogFile32." + CORE: "C:\\QVALogs\\zncwin32.log", "ValidationError." + CORE: None,
      "CurrentUser." + CORE: None, "RestorePassThroughKey." + CORE: None}),
    ("no configuration file: defaults; an empty name is the last failed check", [], [],
     {"PersistentCacheBMP." + CORE: "8192", "Cache." + CORE: CLIENT_DIR + "Cache\\",
      "LogFile." + CORE: CLIENT_DIR + "znclient.log",
      "ValidationError." + CORE: "ErrorClientNameEmtpy." + CORE}),
    ("zero bitmap size, a one-character log file, a network log path with a digit",
     config(["PersistentCacheMinBitmap=0", "LogFile=x", "LogFileWin32=\\\\9server\\logs\\w.log"]),
     ["property CLIENT_NAME=FRONTDESK-07"],
     {"PersistentCacheBMP." + CORE: "8192", "LogFile." + CORE: None, "LogFile32." + CORE: None}),
    ("an invalid install folder wins over an empty name", [],
     ["property QVADIR.%s=C:\\bad|dir\\" % CORE],
     {"ValidationError." + CORE: "ErrorInstallDirInvalid." + CORE}),
]


def check_system_state(args):
    msi = args.packages / "qvaclient-MSI_ALL.msi"
    args.work.mkdir(parents=True, exist_ok=True)
    for number, (title, files, extra, expected) in enumerate(SYSTEM_STATE_CASES):
        scenario = args.work / ("system_state_%d.scenario" % number)
        scenario.write_text("\n".join(["# " + title] + files + extra +
                                      ["action " + a for a in COSTED + ["GetSystemState"]]) + "\n")
        result = run(args.tool, msi, "--scenario", scenario, "--json")
        check(result.returncode == 0 and not result.stderr,
              "%s: exit %d, %s" % (title, result.returncode, result.stderr))
        try:
            report = json.loads(result.stdout)
        except ValueError:
            failures.append("%s: output is no JSON" % title)
            continue
        state = {}
        for action in report["actions"]:
            for change in action.get("changes", []):
                if change["what"] == "property":
                    state[change["name"]] = change.get("after")
        last = report["actions"][-1]
        check(last["action"] == "GetSystemState" and last["result"] == 0,
              "%s: GetSystemState gave %s" % (title, last.get("result")))
        for name, value in expected.items():
            check(state.get(name) == value, "%s: %s is %r, expected %r" % (title, name, state.get(name), value))
    # The readable account names each property the action set, with its value.
    scenario = args.work / "system_state_0.scenario"
    text = run(args.tool, msi, "--scenario", scenario).stdout
    check('property PersistentCacheSize.%s = "52428800"' % CORE in text and
          'property LogFile.%s = "C:\\QVALogs\\znclient.log"' % CORE in text,
          "the readable account does not show GetSystemState's properties:\n" + text)


def write(path, text):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(text)
    return path


# Each: what to run, and the one line the tool must print on stderr (a pattern).
def error_cases(args):
    w, msi = args.work, args.packages / "qvaclient-MSI_ALL.msi"
    text_file = write(w / "notes.txt", "not an installer database\n")
    empty = w / "empty"
    empty.mkdir(parents=True, exist_ok=True)
    write(w / "badtypes/T.idt", "A\tB\ns72\nT\tA\n")
    write(w / "nokey/T.idt", "A\tB\ns72\ti2\nT\tC\n")
    write(w / "nostream/Binary.idt", "Name\tData\ns72\tv0\nBinary\tName\nx\tx.ibd\n")
    write(w / "widerow/T.idt", "A\ns72\nT\tA\na\tb\n")
    (w / "garbage").mkdir(exist_ok=True)
    (w / "garbage/T.idt").write_bytes(bytes(range(256)) * 4)
    scenario = lambda name, text: write(w / (name + ".scenario"), text)
    return [
        ("not an installer database", [text_file], r"is not an installer database"),
        ("no such package", [w / "missing.msi"], r"no such file or folder"),
        ("a folder without .idt files", [empty], r"holds no \.idt files"),
        ("an .idt with fewer types than columns", [w / "badtypes"], r"2 column names but 1 column types"),
        ("an .idt whose key is no column", [w / "nokey"], r'key column "C" is not a column'),
        ("an .idt stream without its file", [w / "nostream"], r'no stream file "x\.ibd"'),
        ("an .idt file of binary bytes", [w / "garbage"], r"T\.idt: .*column"),
        ("an .idt row wider than its table", [w / "widerow"], r"2 fields for 1 columns"),
        ("a missing sequence table", [msi, "--sequence", "NoSuchSequence"],
         r"no sequence table NoSuchSequence"),
        ("a table of the .idt folder missing for the sequence", [ROOT / "packages/qvaclient/tables",
                                                                "--sequence", "InstallExecuteSequence"],
         r"no sequence table InstallExecuteSequence"),
        ("an unknown action", [msi, "NoSuchAction"], r"unknown action NoSuchAction"),
        ("a scenario line of unknown kind", [msi, "-s", scenario("kind", "install everything\n")],
         r'kind\.scenario:1: unknown item "install"'),
        ("a property without a value", [msi, "-s", scenario("prop", "# ok\nproperty CLIENT_NAME\n")],
         r'prop\.scenario:2: property item "CLIENT_NAME" is not NAME=VALUE'),
        ("a DWORD that is no number", [msi, "-r", "HKLM\\Software\\X|Size=#12ab"],
         r'DWORD value "#12ab" is no 32-bit number'),
        ("a registry root that does not exist", [msi, "-r", "HKXX\\Software|A=b"],
         r"does not start with HKLM"),
        ("a relative file path", [msi, "-f", "HOSTCFG.INI=x"], r"with a full Windows path"),
        ("a missing scenario file", [msi, "-s", w / "none.scenario"], r"cannot read the scenario"),
        ("an unknown option", [msi, "--frobnicate"], r"unknown option --frobnicate"),
        ("nothing to run", [msi], r"nothing to run"),
    ]


def check_errors(args):
    check_damaged(args)
    for title, arguments, pattern in error_cases(args):
        result = run(args.tool, *arguments)
        lines = result.stderr.splitlines()
        check(result.returncode == 2, "%s: exit code %d" % (title, result.returncode))
        check(len(lines) == 1 and lines[0].startswith("viduzo-run: ") and re.search(pattern, lines[0]),
              "%s: stderr %r" % (title, result.stderr))
        check(not result.stdout, "%s: printed %r" % (title, result.stdout[:200]))


def check_damaged(args):
    """The sample .msi with each 512-byte block in turn overwritten: the tool
    reads it or refuses it in one line, and never crashes (libmsi does, on some
    of these, in the reader process of its own)."""
    data = (args.packages / "qvaclient-MSI_ALL.msi").read_bytes()
    args.work.mkdir(parents=True, exist_ok=True)
    damaged = args.work / "damaged.msi"
    refused = 0
    for start in range(512, len(data), 512):
        damaged.write_bytes(data[:start] + b"\xff" * 512 + data[start + 512:])
        result = run(args.tool, damaged, "--tables")
        lines = result.stderr.splitlines()
        refused += result.returncode == 2
        check(result.returncode == 0 and not lines or
              result.returncode == 2 and len(lines) == 1 and lines[0].startswith("viduzo-run: "),
              "block at %d: exit %d, %r" % (start, result.returncode, result.stderr[-300:]))
    check(refused > 0, "no damaged copy was refused")


def check_all_actions(args):
    exports = re.findall(r"^VIDUZO_ACTION\((\w+)\)", (ROOT / "dll/actions.h").read_text(), re.M)
    for msi in sorted(args.packages.glob("qvaclient-*.msi")):
        result = run(args.tool, msi, "--all")
        check(result.returncode in (0, 1) and not result.stderr,
              "%s: exit %d, %s" % (msi.name, result.returncode, result.stderr[-2000:]))
        ran = re.findall(r"^(\w+) \(viduzo\.dll\): (\d+)", result.stdout, re.M)
        check([name for name, _ in ran] == exports,
              "%s: ran %s" % (msi.name, [name for name, _ in ran]))
        check("left open:" not in result.stdout, "%s: an action left a handle open" % msi.name)
        as_json = run(args.tool, msi, "--all", "--json")
        try:
            names = [a["action"] for a in json.loads(as_json.stdout)["actions"]]
        except ValueError:
            names = None
        check(names == exports, "%s: --json is no JSON of every export" % msi.name)


# The sample's execute sequence: (properties, whether the installation goes
# through, the action that ends it and its result). An invalid name makes
# GetSystemState name the error, and the package's type 19 action
# StopOnInvalidEntry.<core> (condition "NOT Installed AND ValidationError.<core>")
# ends the sequence with the error's text.
SEQUENCE_CASES = [
    (["CLIENT_NAME=FRONTDESK-07"], True, None, 0),
    (["CLIENT_NAME=desk:7"], False, "StopOnInvalidEntry." + CORE, 1603),
]


def check_sequence(args):
    msi = args.packages / "qvaclient-MSI_ALL.msi"
    # RegisterLNK2Type copies the shortcut file types a Windows machine has.
    machine = ["-r", "HKCR\\.lnk|=lnkfile", "-r", "HKCR\\lnkfile|=Shortcut"]
    for props, completes, last_action, last_result in SEQUENCE_CASES:
        result = run(args.tool, msi, "--sequence", "InstallExecuteSequence", "--json", *machine, *props)
        check(result.returncode == (0 if completes else 1) and not result.stderr,
              "%s: exit %d, %s" % (props, result.returncode, result.stderr))
        report = json.loads(result.stdout)
        ran = [a for a in report["actions"] if a["how"] != "skipped"]
        check(all(a["result"] == 0 for a in ran[:-1]) and ran[-1]["result"] == last_result and
              last_action in (None, ran[-1]["action"]),
              "%s: ended with %s %s" % (props, ran[-1]["action"], ran[-1].get("result")))
        check(("stopped" in report) != completes, "%s: stopped %r" % (props, report.get("stopped")))
        wired = {a["action"]: a.get("export") for a in ran if a["how"] == "custom action"}
        check(wired.get("GetSystemState") == "GetSystemState",
              "%s: GetSystemState did not run through its CustomAction row: %s" % (props, wired))
        if completes:
            # RegisterLNK2Type's copies: temporary Registry rows for ".lnk2" and
            # "lnkfile2", the class of ".lnk2" renamed to "lnkfile2".
            rows = [c for a in ran if a["action"] == "RegisterLNK2Type" for c in a["changes"]
                    if c["what"] == "row"]
            check(rows and all(c["change"] == "added" and c["temporary"] and c["name"] == "Registry"
                               for c in rows) and
                  {c["fields"]["Key"] for c in rows} == {".lnk2", "lnkfile2"} and
                  any(c["fields"]["Key"] == ".lnk2" and c["fields"]["Value"] == "lnkfile2" for c in rows),
                  "%s: RegisterLNK2Type's rows %s" % (props, rows))
        if not completes:
            messages = [c for c in ran[-1]["changes"] if c["what"] == "message"]
            check(len(messages) == 1 and messages[0]["name"] == "ERROR" and
                  messages[0]["fields"][0].startswith("The client name may not contain"),
                  "%s: messages %s" % (props, messages))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=["loaders", "system_state", "errors", "all_actions", "sequence"])
    parser.add_argument("--tool", type=Path, required=True)
    parser.add_argument("--packages", type=Path, required=True)
    parser.add_argument("--work", type=Path, required=True)
    args = parser.parse_args()
    globals()["check_" + args.check](args)
    for failure in failures:
        print("FAILED: " + failure)
    print("%s: %s" % (args.check, "failed" if failures else "passed"))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
