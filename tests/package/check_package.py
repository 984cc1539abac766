#!/usr/bin/env python3
"""Installs and removes one type of the sample Velmar QVA Client package under
Wine and checks what viduzo's actions did, through the verbose log, the files
on drive C: and the registry.

  check_package.py --type MSIHL --msi build/.../qvaclient-MSIHL.msi --work DIR
                   [--template PREFIX]
  check_package.py --boot PREFIX        (makes the template prefix)

One cycle per run: plant an earlier installation, install with the type's
public properties, let the client write its run-time files, remove, then try
an installation with an invalid entry that the package must refuse. Prints
PASS or FAIL per check and exits 1 when any check failed.
"""

import argparse
import calendar
import re
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import qvacycle as q  # noqa: E402

C = q.CORE

# What each package type is installed with, and what the actions must make of it.
SCENARIOS = {
    # No client name given: the earlier client's name file supplies it.
    "MSIHL": {
        "props": {"PROGRAM_FOLDER_NAME." + q.AGENT: "not|checked"},
        "client_name": q.EARLIER_CLIENT_NAME,
        "client_name_valid": "Yes",
        "dynamic": "",
        "failures": [],
        "trov": False,
    },
    # A name over 20 bytes is cut; single sign-on asked for by the user; the
    # launcher's folder name is not the agent package's business.
    "MSI_HLA": {
        "props": {"CLIENT_NAME": "Reception Desk 04 West Wing", "ENABLE_TROV": "Yes",
                  "PROGRAM_FOLDER_NAME." + q.LAUNCHER: "not|checked"},
        "client_name": "Reception Desk 04 We",
        "client_name_valid": "Yes",
        "dynamic": "",
        "failures": [],
        "trov": True,
    },
    # An invalid name with dynamic naming allowed: the package's error action
    # records the problem and the client will name itself.
    "MSI_ALL": {
        "props": {"CLIENT_NAME": "desk,7", "ENABLE_DYNAMIC_CLIENT_NAME": "1"},
        "client_name": "",
        "client_name_valid": "",
        "dynamic": "yes",
        "failures": ["ErrorClientNameInvalidDefault." + C],
        "trov": False,
    },
}

# An entry that GetSystemState finds invalid: the package must refuse to install.
REFUSALS = {
    "MSIHL": ({"CLIENT_NAME": "desk:7"}, "ErrorClientNameInvalid." + C),
    "MSI_HLA": ({"CLIENT_NAME": "Desk7", "PROGRAM_FOLDER_NAME." + q.AGENT: "Agent|Tools"},
                "ErrorPFNameInvalid." + C),
    "MSI_ALL": ({"CLIENT_NAME": "Desk7", "PROGRAM_FOLDER_NAME." + q.LAUNCHER: "Hub*lane"},
                "ErrorPFNameInvalid." + C),
}


class Report:
    def __init__(self, package_type):
        self.type = package_type
        self.passed = 0
        self.failed = 0

    def check(self, name, ok, detail=""):
        if ok:
            self.passed += 1
            print("PASS %s: %s" % (self.type, name))
        else:
            self.failed += 1
            print("FAIL %s: %s%s" % (self.type, name, " -- " + detail if detail else ""))
        sys.stdout.flush()
        return ok

    def equal(self, name, actual, expected):
        return self.check(name, actual == expected, "got %r, expected %r" % (actual, expected))


def command_line(props):
    return ["%s=%s" % item for item in props.items()]


def check_actions(r, log, phase, expected):
    """expected: {action: SUCCEEDED, or None for an action that must not run}"""
    for action, result in expected.items():
        results = log.results(action)
        if result is None:
            r.check("%s: %s does not run" % (phase, action), not results, "results %r" % results)
        else:
            r.check("%s: %s runs once and succeeds" % (phase, action), results == [result],
                    "logged results %r" % results)


def check_install(r, prefix, log, code, package_type, scenario):
    launcher, agent = q.with_launcher(package_type), q.with_agent(package_type)
    r.equal("install: msiexec exit code", code, 0)
    menu = log.prop("ProgramMenuFolder")
    agent_folder = scenario["props"].get("PROGRAM_FOLDER_NAME." + q.AGENT,
                                         "Velmar Hublane Agent" if agent else "")
    r.check("install: the engine knows the program menu folder", menu.endswith("\\Programs\\"), menu)
    check_actions(r, log, "install", {
        "GetQVAClientName": q.SUCCEEDED, "ValidateClientName": q.SUCCEEDED,
        "SystemStateBetweenCostFinalize": q.SUCCEEDED, "GetSystemState": q.SUCCEEDED,
        "RemoveFileTree": q.SUCCEEDED, "MoveFileTree": q.SUCCEEDED,
        "StopOnInvalidEntry." + C: None})
    check_actions(r, log, "install", {
        "IsClientRunning": q.SUCCEEDED, "SignalClientTerminate": q.SUCCEEDED,
        "KillTROV": q.SUCCEEDED, "RestartHlAgent": q.SUCCEEDED})
    parents = sorted({up for name, _, _, up in log.actions if name == "CostFinalize"}, key=str)
    r.equal("install: CostFinalize runs only through the actions that stand for it",
            parents, ["RegisterLNK2Type", "RemoveFileTree", "SystemStateBetweenCostFinalize"])

    # INI repair: the IniFile row that adds a tag is listed for the deferred
    # FixIniFile, which leaves every tag of the value once. The log shows a
    # deferred action twice (scheduled, then run), and its property dump
    # formats values, so the list's "[FILE]=" markers are gone there.
    check_actions(r, log, "install", {"SetFixIniFile": q.SUCCEEDED})
    deferred = log.results("FixIniFile." + C)
    r.check("install: FixIniFile.%s is scheduled, runs and succeeds" % C,
            len(deferred) == 2 and all(x == q.SUCCEEDED for x in deferred), "results %r" % deferred)
    fix_list = log.prop("FixIniFile." + C)
    r.check("install: SetFixIniFile lists the Windows folder's qvatags.ini",
            "c:\\windows\\qvatags.ini" in fix_list.lower(), fix_list)
    tags = [line for line in prefix.host_path(q.TAGS_INI).read_text().splitlines()
            if line.startswith("Tags=")]
    r.equal("install: FixIniFile removed the duplicate tag", tags, ["Tags=" + q.TAGS_REPAIRED])

    # Time stamps and the install log. Wine keeps no creation time of its own,
    # so MoveFileTree lists nothing there; the package's own entry dates
    # readme.txt, after an entry for a missing file that is skipped.
    for action in ("SetTimestamps." + C, "LogInstallTime." + C):
        results = log.results(action)
        r.check("install: %s is scheduled, runs and succeeds" % action,
                len(results) == 2 and all(x == q.SUCCEEDED for x in results), "results %r" % results)
    readme = prefix.host_path(q.CLIENT_DIR + "readme.txt")
    r.equal("install: SetTimestamps gave readme.txt its last-write time",
            int(readme.stat().st_mtime), calendar.timegm((2004, 3, 5, 9, 7, 2)))
    r.check("install: the skipped entry's file was not created",
            not q.exists(prefix, q.CLIENT_DIR + "missing.txt"))
    lines = prefix.host_path(q.CLIENT_DIR + "zncwin32.log").read_bytes().split(b"\r\n")
    stamp = re.fullmatch(rb"Velmar QVA Client installed on (\d+)-(\d+)-(\d+) at (\d+):(\d+):(\d+)",
                         lines[-2] if len(lines) > 1 else b"")
    # Month-day-year of the UTC date, without leading zeros; the day may have
    # turned while the check ran.
    days = [time.gmtime(time.time() - back) for back in (0, 3600)]
    dates = {"%d-%d-%d" % (d.tm_mon, d.tm_mday, d.tm_year) for d in days}
    r.check("install: LogInstallTime appended today's date and time to the client log",
            stamp is not None and lines[-1] == b"" and
            b"-".join(stamp.group(1, 2, 3)).decode() in dates and
            int(stamp.group(4)) < 24 and int(stamp.group(5)) < 60 and int(stamp.group(6)) < 60,
            "last lines %r" % lines[-3:])

    # Properties the actions set, as the engine's final property dump shows them.
    expected = {
        "HlType": package_type,
        "CLIENT_NAME": scenario["client_name"],
        "ClientNameValid." + C: scenario["client_name_valid"],
        "ENABLE_DYNAMIC_CLIENT_NAME": scenario["dynamic"],
        "ValidationError." + C: "",
        "PersistentCacheSize." + C: q.CONFIG["PersistentCacheSize"],
        "PersistentCacheBMP." + C: q.CONFIG["PersistentCacheMinBitmap"],
        "Cache." + C: q.CONFIG["PersistentCachePath"],
        "LogFile." + C: q.CONFIG["LogFile"],
        "LogFile32." + C: q.CONFIG["LogFileWin32"],
        "EnableTROVFiles." + C: "" if scenario["trov"] else "No",
        "QVADIR." + q.LAUNCHER: q.CLIENT_DIR if launcher else "",
        "QVADIR." + q.AGENT: q.CLIENT_DIR if agent else "",
        # Any agent folder name that is set gets its menu path, checked or not.
        "PFName." + q.AGENT: menu + agent_folder if agent_folder else "",
        "DESKTOPLINK." + q.LAUNCHER: "C:\\Users\\Public\\Desktop\\" if launcher else "",
    }
    for name, value in expected.items():
        r.equal("install: property %s" % name, log.prop(name), value)
    failures = log.prop("VmrValidationFailures")
    # Each record is "<name of the error text>: <the text>; ".
    recorded = re.findall(r"(\w+\.%s): " % C, failures)
    r.equal("install: ValidationFailed recorded the failed checks", recorded, scenario["failures"])
    if launcher:
        r.equal("install: launcher menu folder from its program folder name",
                log.prop("PFNAME." + q.LAUNCHER), menu + "Velmar Hublane\\")

    # RemoveFileTree: the old client's folders became Directory rows (their
    # keys are properties holding the paths) and RemoveFile rows that the
    # engine carried out.
    old_dirs = {q.OLD_CLIENT, q.OLD_CLIENT + "bin\\", q.OLD_CLIENT + "lang\\",
                q.OLD_CLIENT + "lang\\en\\", q.OLD_CLIENT + "lang\\de\\"}
    scheduled = set(log.props_matching("RM_FILE_*").values())
    r.check("install: RemoveFileTree gave every old client folder a directory key",
            old_dirs <= scheduled, "missing %s" % sorted(old_dirs - scheduled))
    rows = log.tree_rows("RM_FILE_")
    old_rows = {k: d for k, d in rows.items() if d.lower().startswith(q.OLD_CLIENT.lower())}
    removable = len(q.OLD_CLIENT_FILES) - len(q.OLD_CLIENT_KEPT)
    r.equal("install: the engine ran one RemoveFile row per removed file and per folder",
            (len(old_rows), set(old_rows.values())), (removable + len(old_dirs), old_dirs))
    for rel in q.OLD_CLIENT_FILES:
        kept = rel in q.OLD_CLIENT_KEPT
        r.equal("install: old client file %s %s" % (rel, "kept (file condition)" if kept else "removed"),
                q.exists(prefix, q.OLD_CLIENT + rel), kept)
    for folder in ("bin\\", "lang\\"):
        r.check("install: old client folder %s removed" % folder,
                not q.exists(prefix, q.OLD_CLIENT + folder))

    # RemoveHLShortcuts, the condition action of the old launcher's menu row:
    # of the shortcuts made by Wine's shell, exactly the one that starts the
    # launcher with /DI got a RemoveFile row and is gone.
    menu_rows = [k for k, d in rows.items() if d.lower() == q.OLD_MENU.lower()]
    r.equal("install: one RemoveFile row in the old launcher's menu folder",
            len(menu_rows), len(q.OLD_MENU_REMOVED))
    for name in q.OLD_MENU_FILES:
        removed = name in q.OLD_MENU_REMOVED
        r.equal("install: old launcher menu file %s %s" % (name, "removed (RemoveHLShortcuts)" if removed else "kept"),
                q.exists(prefix, q.OLD_MENU + name), not removed)

    # MoveFileTree: the keystore moved into the new client, its backup stayed.
    moves = log.tree_rows("MV_FILE_")
    destinations = set(moves.values())
    r.equal("install: the engine ran MoveFile rows into the new keystore folders",
            destinations, {q.CLIENT_DIR + "keystore\\", q.CLIENT_DIR + "keystore\\cacerts\\"})
    for rel in q.OLD_KEYSTORE_FILES:
        kept = rel in q.OLD_KEYSTORE_KEPT
        at_old = q.exists(prefix, q.OLD_KEYSTORE + rel)
        at_new = q.exists(prefix, q.CLIENT_DIR + "keystore\\" + rel)
        r.equal("install: keystore file %s %s" % (rel, "left alone (directory condition)" if kept else "moved"),
                (at_old, at_new), (kept, not kept))

    # The payload of this package type, and the folders the actions decided.
    payload = {"qvaclient.exe": True, "readme.txt": True, "zncwin32.log": True,
               "hublane.exe": launcher, "hlagent.exe": agent, "ssonsvr.exe": scenario["trov"]}
    for name, wanted in payload.items():
        r.equal("install: %s %s" % (name, "installed" if wanted else "not installed"),
                q.exists(prefix, q.CLIENT_DIR + name), wanted)
    r.equal("install: launcher shortcut in its program folder",
            q.exists(prefix, menu + "Velmar Hublane\\Hublane.lnk"), launcher)
    r.equal("install: agent shortcut in its program folder",
            q.exists(prefix, menu + "Velmar Hublane Agent\\Hublane Agent.lnk"), agent)
    r.check("install: the cache folder is the configured one, not the default",
            q.exists(prefix, q.CONFIG_CACHE) and not q.exists(prefix, q.CLIENT_DIR + "Cache\\"))

    # The registry the package wrote from the actions' properties.
    reg = prefix.registry()
    key = "Software\\Velmar\\QVA Client"
    values = {"InstallDir": q.CLIENT_DIR, "PackageType": package_type,
              "ClientName": scenario["client_name"], "DynamicClientName": scenario["dynamic"],
              "PersistentCacheSize": q.CONFIG["PersistentCacheSize"],
              "PersistentCacheMinBitmap": q.CONFIG["PersistentCacheMinBitmap"],
              "PersistentCachePath": q.CONFIG["PersistentCachePath"],
              "LogFile": q.CONFIG["LogFile"], "LogFileWin32": q.CONFIG["LogFileWin32"]}
    for name, value in values.items():
        r.equal("install: HKLM\\%s\\%s" % (key, name), reg.value(key, name), value)
    r.equal("install: HKLM\\Software\\Velmar\\Hublane\\ProgramFolder",
            reg.value("Software\\Velmar\\Hublane", "ProgramFolder"),
            menu + "Velmar Hublane\\" if launcher else None)
    r.equal("install: HKLM\\Software\\Velmar\\Hublane Agent\\ProgramFolder",
            reg.value("Software\\Velmar\\Hublane Agent", "ProgramFolder"),
            menu + "Velmar Hublane Agent\\" if agent else None)
    r.check("install: product registered",
            reg.key(UNINSTALL_KEY + q.PRODUCT_CODES[package_type]) is not None)


UNINSTALL_KEY = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"


CLASSES = "Software\\Classes\\"


def check_file_type(r, prefix, log, phase):
    """RegisterLNK2Type runs at installation and removal; while the package is
    installed, ".lnk2" names "lnkfile2", a copy of the machine's "lnkfile"
    without "IsShortcut"; after the removal both are gone."""
    check_actions(r, log, phase, {"RegisterLNK2Type": q.SUCCEEDED})
    reg = prefix.registry()
    if phase == "remove":
        r.check("remove: HKCR\\.lnk2 gone", reg.key(CLASSES + ".lnk2") is None)
        # Wine's RemoveRegistryValues leaves the keys that only "+" rows made
        # and that hold no value (lnkfile2\shellex\ContextMenuHandlers\{...});
        # every value is gone.
        left = {key: values for key, values in reg.tree(CLASSES + "lnkfile2").items() if values}
        r.equal("remove: no value left under HKCR\\lnkfile2", left, {})
        return
    r.equal("install: HKCR\\.lnk2 names its own class", reg.value(CLASSES + ".lnk2", ""), "lnkfile2")
    source, copy = reg.tree(CLASSES + "lnkfile"), reg.tree(CLASSES + "lnkfile2")
    expected = {}
    for key, values in source.items():
        top = key.lower() == (CLASSES + "lnkfile").lower()
        expected[(CLASSES + "lnkfile2" + key[len(CLASSES + "lnkfile"):]).lower()] = {
            name.lower(): value for name, value in values.items()
            if not (top and name.lower() == "isshortcut")}
    got = {key.lower(): {name.lower(): value for name, value in values.items()}
           for key, values in copy.items()}
    r.check("install: HKCR\\lnkfile is marked as a shortcut (the copy's source)",
            reg.value(CLASSES + "lnkfile", "IsShortcut") is not None)
    r.equal("install: HKCR\\lnkfile2 is lnkfile's tree without IsShortcut", got, expected)


def check_removal(r, prefix, log, code, package_type, before_install):
    r.equal("remove: msiexec exit code", code, 0)
    check_actions(r, log, "remove", {
        "SystemStateBetweenCostFinalize": q.SUCCEEDED, "GetSystemState": q.SUCCEEDED,
        "RemoveFileTree": q.SUCCEEDED, "GetQVAClientName": None, "ValidateClientName": None,
        "MoveFileTree": None, "StopOnInvalidEntry." + C: None})
    check_actions(r, log, "remove", {
        "IsClientRunning": q.SUCCEEDED, "SignalClientTerminate": q.SUCCEEDED,
        "KillTROV": q.SUCCEEDED, "RestartHlAgent": None})
    rows = log.tree_rows("RM_FILE_")
    runtime_dirs = {q.CLIENT_DIR, q.CLIENT_DIR + "logs\\"}
    r.check("remove: the engine ran RemoveFile rows in the client folder and its logs folder",
            runtime_dirs <= set(rows.values()), "directories %s" % sorted(set(rows.values())))
    for rel in q.RUNTIME_FILES:
        r.check("remove: run-time file %s removed" % rel, not q.exists(prefix, q.CLIENT_DIR + rel))
    r.check("remove: the pruned keystore keeps its session.tmp",
            q.exists(prefix, q.CLIENT_DIR + "keystore\\session.tmp"))

    reg = prefix.registry()
    for key in ("Software\\Velmar\\QVA Client", "Software\\Velmar\\Hublane",
                "Software\\Velmar\\Hublane Agent",
                UNINSTALL_KEY + q.PRODUCT_CODES[package_type]):
        r.check("remove: HKLM\\%s gone" % key, reg.key(key) is None)
    r.check("remove: the earlier client's registration is not the package's to remove",
            reg.value("Software\\Velmar\\QVA Client 8", "InstallDir") == q.OLD_CLIENT)

    # Against the machine as it was before the installation, only the
    # migration may remain: the old client's files gone (its setup log kept),
    # the keystore moved into the client folder.
    after = q.snapshot(prefix)
    moved = [rel for rel in q.OLD_KEYSTORE_FILES if rel not in q.OLD_KEYSTORE_KEPT]
    expected_gone = {q.OLD_CLIENT + rel for rel in q.OLD_CLIENT_FILES if rel not in q.OLD_CLIENT_KEPT}
    expected_gone |= {q.OLD_CLIENT + d for d in ("bin\\", "lang\\", "lang\\en\\", "lang\\de\\")}
    expected_gone |= {q.OLD_KEYSTORE + rel for rel in moved}
    expected_gone |= {q.OLD_MENU + name for name in q.OLD_MENU_REMOVED}
    expected_new = {q.CLIENT_DIR + "keystore\\" + rel for rel in moved}
    expected_new |= {q.CLIENT_DIR + "keystore\\", q.CLIENT_DIR + "keystore\\cacerts\\"}
    r.equal("remove: nothing left behind but the migrated keystore",
            sorted(after - before_install), sorted(expected_new))
    r.equal("remove: nothing gone but what the trees moved or removed",
            sorted(before_install - after), sorted(expected_gone))


def check_refusal(r, prefix, msi, work, package_type):
    props, error = REFUSALS[package_type]
    before = q.snapshot(prefix)
    code, _, log = prefix.msiexec(["/i", str(msi), "/qn"] + command_line(props), work / "refused.log")
    r.equal("refuse: msiexec exit code is 1603", code, q.exit_code(1603))
    check_actions(r, log, "refuse", {"GetSystemState": q.SUCCEEDED, "RemoveFileTree": None})
    r.equal("refuse: StopOnInvalidEntry ends the installation",
            log.results("StopOnInvalidEntry." + C), [0])
    r.equal("refuse: ValidationError names the failed check", log.prop("ValidationError." + C), error)
    r.equal("refuse: nothing on disk changed", sorted(q.snapshot(prefix) ^ before), [])
    r.check("refuse: product not registered",
            prefix.registry().key(UNINSTALL_KEY + q.PRODUCT_CODES[package_type]) is None)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--type", choices=q.PACKAGE_TYPES)
    parser.add_argument("--msi")
    parser.add_argument("--work")
    parser.add_argument("--template", help="a booted Wine prefix to copy instead of booting one")
    parser.add_argument("--boot", metavar="PREFIX",
                        help="only make a fresh Wine prefix there (the template of the checks)")
    args = parser.parse_args()
    if args.boot:
        prefix = q.Prefix(args.boot)
        try:
            prefix.boot()
        finally:
            prefix.shutdown()
        print("booted the Wine prefix %s" % prefix.path)
        return 0
    if not (args.type and args.msi and args.work):
        parser.error("--type, --msi and --work are needed")

    package_type = args.type
    msi = Path(args.msi).resolve()
    work = Path(args.work).resolve()
    work.mkdir(parents=True, exist_ok=True)
    r = Report(package_type)
    prefix = q.Prefix(work / "wineprefix")
    scenario = SCENARIOS[package_type]
    try:
        if args.template and (Path(args.template) / "system.reg").exists():
            prefix.copy_from(args.template)
        else:
            prefix.boot()
        q.plant_earlier_installation(prefix)
        q.plant_old_launcher_menu(prefix)
        before_install = q.snapshot(prefix)

        props = command_line(scenario["props"])
        code, seconds, log = prefix.msiexec(["/i", str(msi), "/qn"] + props, work / "install.log")
        print("     %s: installed in %.1f s (%s)" % (package_type, seconds, " ".join(props) or "no properties"))
        check_install(r, prefix, log, code, package_type, scenario)
        check_file_type(r, prefix, log, "install")

        q.run_client(prefix)
        code, seconds, log = prefix.msiexec(["/x", str(msi), "/qn"], work / "remove.log")
        print("     %s: removed in %.1f s" % (package_type, seconds))
        check_removal(r, prefix, log, code, package_type, before_install)
        check_file_type(r, prefix, log, "remove")

        check_refusal(r, prefix, msi, work, package_type)
    except (q.WineError, OSError, ValueError) as error:
        r.check("the install and remove cycle ran to its end", False, str(error))
    finally:
        prefix.shutdown()
    print("%s: %d passed, %d failed" % (package_type, r.passed, r.failed))
    return 1 if r.failed else 0


if __name__ == "__main__":
    sys.exit(main())
