"""Install and remove the sample Velmar QVA Client package under Wine.

Shared by the package checks (check_package.py, run by ctest) and by the
readable account of scripts/demo (demo.py). It knows:

- a Wine prefix of our own (booted once, copied per run), with a time limit on
  every Wine process and the server shut down at the end;
- the earlier installation that a test plants before installing: the old
  client folder and its registration, the old keystore, HOSTCFG.INI with cache
  and log settings, the client-name file;
- how to read what happened: the verbose log's action results and property
  dump, the files on drive C:, and the registry as Wine stores it.
"""

import os
import re
import shutil
import subprocess
import time
from pathlib import Path

CORE = "5B1E0A72_3C94_4F0B_A6D2_17E9C3B48D60"
LAUNCHER = "3F8A61D5_E27C_4B19_9D40_58B6C1E0A2F7"
AGENT = "9D4C2E81_6B0F_47A3_8E15_C2A07F3D96B4"
TREE_KEY = "E06D3B94_1A58_4C7E_B3F2_6D9A04C85E13"

PACKAGE_TYPES = ("MSIHL", "MSI_HLA", "MSI_ALL")
PRODUCT_CODES = {
    "MSIHL": "{6A1F3C20-5D7E-4B8A-9C01-3E2F4D5A6B01}",
    "MSI_HLA": "{6A1F3C20-5D7E-4B8A-9C01-3E2F4D5A6B02}",
    "MSI_ALL": "{6A1F3C20-5D7E-4B8A-9C01-3E2F4D5A6B03}",
}


def with_launcher(package_type):
    return package_type in ("MSIHL", "MSI_ALL")


def with_agent(package_type):
    return package_type in ("MSI_HLA", "MSI_ALL")


# The custom actions the package wires, in sequence order, with the properties
# each of them may write (a trailing * matches a family of generated names).
WIRED_ACTIONS = [
    ("GetQVAClientName", ["CLIENT_NAME", "ENABLE_DYNAMIC_CLIENT_NAME",
                          "ValidationError." + CORE, "VmrValidationFailures"]),
    ("ValidateClientName", ["ClientNameValid." + CORE]),
    ("SystemStateBetweenCostFinalize", [
        "QVADIR." + LAUNCHER, "QVADIR." + AGENT, "PFNAME." + LAUNCHER,
        "PFNAME." + AGENT, "PFName." + AGENT, "DESKTOPLINK." + LAUNCHER,
        "ENABLE_TROV", "EnableTROVFiles." + CORE]),
    ("GetSystemState", [
        "RestorePassThroughKey." + CORE, "CurrentUser." + CORE,
        "PersistentCacheSize." + CORE, "PersistentCacheBMP." + CORE,
        "Cache." + CORE, "LogFile." + CORE, "LogFile32." + CORE,
        "TEMP.71C5A0E8_94D2_4E6B_8A17_F3B25D0C69E4", "ValidationError." + CORE]),
    ("StopOnInvalidEntry." + CORE, []),
    ("RemoveFileTree", ["RM_FILE_*", "VmrCoreRemoveFileDirectory", "VmrCoreRemoveFileFile"]),
    ("MoveFileTree", ["MV_FILE_*", "VmrCoreMoveFileDirectory", "VmrCoreMoveFileFile",
                      "SetTimestamps." + CORE]),
    ("RegisterLNK2Type", []),
]
WIRED_ACTION_NAMES = [name for name, _ in WIRED_ACTIONS]

# "Return value" of an "Action ended" line. Wine's engine logs 1 when the action
# returned 0 and 0 when it failed; Windows logs 3 for a failure.
SUCCEEDED = 1
RESULTS = {0: "failed", 1: "succeeded", 2: "cancelled", 3: "failed"}

# The process exit code of msiexec as the shell sees it: Windows' result code
# cut to 8 bits (1603 arrives as 67).
def exit_code(win32_code):
    return win32_code & 0xFF

WINE_ENV = {"WINEDEBUG": "-all", "WINEDLLOVERRIDES": "mscoree,mshtml="}


class WineError(RuntimeError):
    pass


class Prefix:
    """A Wine prefix of our own; every Wine process gets a time limit."""

    def __init__(self, path):
        self.path = Path(path).resolve()
        self.env = dict(os.environ)
        self.env.update(WINE_ENV)
        self.env["WINEPREFIX"] = str(self.path)
        self.env.pop("DISPLAY", None)

    @property
    def drive_c(self):
        return self.path / "drive_c"

    def boot(self):
        """Makes a fresh prefix (about 15-30 s)."""
        shutil.rmtree(self.path, ignore_errors=True)
        self.path.parent.mkdir(parents=True, exist_ok=True)
        self._run(["wineboot", "-i"], 300)
        self.wait_idle()
        if not (self.path / "system.reg").exists():
            raise WineError("wineboot made no prefix at %s" % self.path)

    def copy_from(self, template):
        shutil.rmtree(self.path, ignore_errors=True)
        self.path.parent.mkdir(parents=True, exist_ok=True)
        subprocess.run(["cp", "-a", str(template), str(self.path)], check=True)

    def _run(self, args, limit):
        return subprocess.run(["timeout", str(limit)] + args, env=self.env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL).returncode

    def wine(self, args, limit=120):
        return self._run(["wine"] + args, limit)

    def wait_idle(self):
        """Waits for the prefix's wineserver to end, which also saves the registry."""
        self._run(["wineserver", "-w"], 60)

    def shutdown(self):
        self._run(["wineserver", "-k"], 30)

    def host_path(self, windows_path):
        """C:\\a\\b -> <prefix>/drive_c/a/b"""
        if not re.match(r"^[A-Za-z]:\\", windows_path):
            raise ValueError("not a drive path: %r" % windows_path)
        rest = windows_path[3:].replace("\\", "/").rstrip("/")
        return self.drive_c / rest if rest else self.drive_c

    def windows_path(self, host_path):
        rel = Path(host_path).relative_to(self.drive_c)
        return "C:\\" + str(rel).replace("/", "\\")

    def import_registry(self, text, name):
        reg = self.path.parent / name
        reg.write_text(text.replace("\n", "\r\n"), encoding="ascii")
        if self.wine(["regedit", "/S", str(reg)], 60) != 0:
            raise WineError("regedit could not import %s" % reg)
        self.wait_idle()

    def msiexec(self, args, log, limit=180):
        """Runs msiexec with a verbose log; returns (exit code, seconds, Log)."""
        log = Path(log)
        if log.exists():
            log.unlink()
        start = time.monotonic()
        code = self.wine(["msiexec"] + args + ["/l*v", str(log)], limit)
        self.wait_idle()
        seconds = time.monotonic() - start
        return code, seconds, Log(log)

    def registry(self):
        return Registry(self.path / "system.reg")


# ---- the earlier installation -------------------------------------------------

OLD_CLIENT = "C:\\Program Files (x86)\\Velmar\\QVA Client 8\\"
OLD_KEYSTORE = "C:\\ProgramData\\Velmar\\QVA Client 8\\keystore\\"
CLIENT_DIR = "C:\\Program Files\\Velmar\\QVA Client\\"
CONFIG_CACHE = "C:\\QVACache\\"
CONFIG = {
    "PersistentCacheSize": "52428800",
    "PersistentCacheMinBitmap": "16384",
    "PersistentCachePath": CONFIG_CACHE,
    "LogFile": "C:\\QVALogs\\znclient.log",
    "LogFileWin32": "C:\\QVALogs\\zncwin32.log",
}
EARLIER_CLIENT_NAME = "FRONTDESK-07"

# Relative to the old client folder: its program files and the setup log that
# the package's file condition keeps.
OLD_CLIENT_FILES = ["wfica32.exe", "Read Me First.txt", "bin\\zncore.dll",
                    "lang\\en\\strings.txt", "lang\\de\\strings.txt", "wfcsetup.log"]
OLD_CLIENT_KEPT = ["wfcsetup.log"]
# Relative to the old keystore: backup\ is left where it is (directory condition).
OLD_KEYSTORE_FILES = ["client.key", "session.tmp", "cacerts\\root.pem",
                      "cacerts\\velmar-ca.crt", "backup\\root-2019.pem"]
OLD_KEYSTORE_KEPT = ["backup\\root-2019.pem"]

# An INI list that earlier installations of the launcher tagged twice (the
# second time in other case); the package's IniFile row adds "hublane" to it
# again and FixIniFile must leave each tag once.
TAGS_INI = "C:\\windows\\qvatags.ini"
TAGS_PLANTED = "hublane,agent,Hublane"
TAGS_REPAIRED = "hublane,agent"

# What the client writes at run time; the package removes it on uninstall.
RUNTIME_FILES = ["logs\\session.log", "logs\\trace.tmp", "wfcrun.tmp"]


def plant_earlier_installation(prefix):
    """Leaves an earlier client on the machine, as the package expects to find it."""

    def write(windows_path, text):
        host = prefix.host_path(windows_path)
        host.parent.mkdir(parents=True, exist_ok=True)
        host.write_bytes(text.replace("\n", "\r\n").encode("ascii"))

    for rel in OLD_CLIENT_FILES:
        write(OLD_CLIENT + rel, "QVA Client 8: %s\n" % rel)
    for rel in OLD_KEYSTORE_FILES:
        write(OLD_KEYSTORE + rel, "keystore entry %s\n" % rel)
    config = "[ZNClient]\n" + "".join("%s=%s\n" % item for item in CONFIG.items())
    write(CLIENT_DIR + "HOSTCFG.INI", config)
    write(CONFIG_CACHE + "cache.dat", "cached bitmaps\n")
    write("C:\\ZNCNAME.INI", "[ZNClient]\nClientName=%s\n" % EARLIER_CLIENT_NAME)
    write(TAGS_INI, "[Launchers]\nTags=%s\n" % TAGS_PLANTED)

    def reg_string(value):
        return '"%s"' % value.replace("\\", "\\\\").replace('"', '\\"')

    prefix.import_registry(
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmar\\QVA Client 8]\n"
        '"InstallDir"=%s\n"KeystoreDir"=%s\n"Version"="8.4.2"\n\n'
        % (reg_string(OLD_CLIENT), reg_string(OLD_KEYSTORE)), "earlier-installation.reg")


# The earlier launcher's menu folder: shortcuts made by Wine's shell
# (tests/data). The package's VmrRemoveFileTree row names RemoveHLShortcuts in
# its file condition, so an installation removes the shortcut that starts the
# launcher with /DI and leaves the other files of the folder alone.
OLD_MENU = "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Velmar Hublane 8\\"
SHORTCUT_DATA = Path(__file__).resolve().parent.parent / "data"
OLD_MENU_FILES = {  # name in the menu folder: file of tests/data
    "Hublane.lnk": "wine_launcher_di.lnk",         # hl.exe /DI: removed
    "Hublane Setup.lnk": "wine_launcher.lnk",      # hl.exe alone: kept
    "Notes.lnk": "wine_notepad_di.lnk",            # notepad.exe /DI: kept
    "Read Me.txt": None,                           # not a shortcut: kept
}
OLD_MENU_REMOVED = ["Hublane.lnk"]


def plant_old_launcher_menu(prefix):
    for name, source in OLD_MENU_FILES.items():
        host = prefix.host_path(OLD_MENU + name)
        host.parent.mkdir(parents=True, exist_ok=True)
        host.write_bytes((SHORTCUT_DATA / source).read_bytes() if source else b"Hublane 8\r\n")
    prefix.import_registry(
        "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Velmar\\Hublane 8]\n\"MenuFolder\"=\"%s\"\n"
        % OLD_MENU.replace("\\", "\\\\"), "earlier-launcher.reg")


def run_client(prefix):
    """What the installed client leaves behind while it runs."""
    for rel in RUNTIME_FILES:
        host = prefix.host_path(CLIENT_DIR + rel)
        host.parent.mkdir(parents=True, exist_ok=True)
        host.write_bytes(b"written by the client at run time\r\n")


# ---- reading the results ------------------------------------------------------

class Log:
    """The verbose log of one msiexec run."""

    _START = re.compile(r"^Action start [\d:]+: (.+)\.$")
    _END = re.compile(r"^Action ended [\d:]+: (.+)\. Return value (\d+)\.$")
    _PROPERTY = re.compile(r"^Property\((?:S|C)\): (.+?) = (.*)$")
    _ROW = re.compile(r"^(?:File|Folder): ([^,]+),\s+Directory: (.*?)(?:,\s+Size: \d+)?$")

    def __init__(self, path):
        self.path = Path(path)
        self.text = self.path.read_text(encoding="utf-8", errors="replace") if self.path.exists() else ""
        self.actions = []      # (name, result, depth, parent) in the order they ended
        self.properties = {}
        self.rows = []         # (action, row key, directory) of the file actions
        stack = []
        current = None
        for line in self.text.splitlines():
            line = line.rstrip("\r")
            match = self._START.match(line)
            if match:
                stack.append(match.group(1))
                current = match.group(1)
                continue
            match = self._END.match(line)
            if match:
                name = match.group(1)
                if name in stack:
                    while stack and stack[-1] != name:
                        stack.pop()
                    stack.pop()
                parent = stack[-1] if stack else None
                self.actions.append((name, int(match.group(2)), len(stack), parent))
                current = stack[-1] if stack else None
                continue
            match = self._PROPERTY.match(line)
            if match:
                self.properties[match.group(1)] = match.group(2)
                continue
            match = self._ROW.match(line)
            if match and current:
                self.rows.append((current, match.group(1).strip(), match.group(2).strip()))

    def results(self, name):
        """Every logged result of an action (an action may run more than once)."""
        return [result for action, result, _, _ in self.actions if action == name]

    def result(self, name):
        results = self.results(name)
        return results[0] if results else None

    def ran_inside(self, name, parent):
        return any(action == name and up == parent for action, _, _, up in self.actions)

    def prop(self, name):
        return self.properties.get(name, "")

    def props_matching(self, pattern):
        """Properties named by a pattern with an optional trailing *."""
        if pattern.endswith("*"):
            return {k: v for k, v in self.properties.items() if k.startswith(pattern[:-1])}
        return {pattern: self.properties[pattern]} if pattern in self.properties else {}

    def tree_rows(self, prefix):
        """Generated RemoveFile / MoveFile rows the engine processed: {key: directory}."""
        return {key: directory for _, key, directory in self.rows
                if key.startswith(prefix) and key.endswith(TREE_KEY)}


class Registry:
    """HKEY_LOCAL_MACHINE as Wine saves it in system.reg. Names are looked up
    without regard to case, as Windows does; the spelling is kept for display."""

    def __init__(self, path):
        self.keys = {}      # lower-case key -> {lower-case value name: value}
        self.names = {}     # lower-case key or value path -> name as written
        key = None
        text = Path(path).read_text(encoding="utf-8", errors="replace")
        for line in text.splitlines():
            if line.startswith("["):
                end = line.rfind("]")
                name = line[1:end].replace("\\\\", "\\")
                key = self.keys.setdefault(name.lower(), {})
                self.names[name.lower()] = name
                current = name.lower()
            elif key is not None and line.startswith(('"', "@")):
                name, value = self._value(line)
                if name is not None:
                    key[name.lower()] = value
                    self.names[current + "\\" + name.lower()] = name

    @staticmethod
    def _value(line):
        match = re.match(r'^(@|"(?:[^"\\]|\\.)*")=(.*)$', line)
        if not match:
            return None, None
        name = "" if match.group(1) == "@" else Registry._unescape(match.group(1)[1:-1])
        raw = match.group(2)
        if raw.startswith('"') and raw.endswith('"'):
            return name, Registry._unescape(raw[1:-1])
        if raw.startswith("dword:"):
            return name, int(raw[6:], 16)
        return name, raw

    @staticmethod
    def _unescape(text):
        return re.sub(r"\\(.)", lambda m: m.group(1), text)

    def key(self, name):
        return self.keys.get(name.lower())

    def value(self, key, name):
        values = self.key(key)
        return None if values is None else values.get(name.lower())

    def subkeys(self, name):
        head = name.lower() + "\\"
        return sorted(k for k in self.keys if k.startswith(head))

    def tree(self, name):
        """A key and its subkeys: {key as written: {value name as written: value}}."""
        out = {}
        for lower in [name.lower()] + self.subkeys(name):
            if lower in self.keys:
                out[self.names[lower]] = {self.names[lower + "\\" + v]: value
                                          for v, value in self.keys[lower].items()}
        return out


def snapshot(prefix):
    """Every file and folder on drive C: outside the Windows folder and the temporary folders."""
    found = set()
    root = prefix.drive_c
    for folder, dirs, files in os.walk(root):
        rel_folder = Path(folder).relative_to(root)
        parts = [p.lower() for p in rel_folder.parts]
        if parts[:1] == ["windows"] or "temp" in parts:
            dirs[:] = []
            continue
        for d in dirs:
            found.add(prefix.windows_path(Path(folder) / d) + "\\")
        for f in files:
            found.add(prefix.windows_path(Path(folder) / f))
    return found


def exists(prefix, windows_path):
    return prefix.host_path(windows_path).exists()
