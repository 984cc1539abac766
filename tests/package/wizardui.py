"""The sample package's setup wizard, run for real: Wine's msiexec with its
full UI on an Xvfb display of our own, walked page by page with xdotool.

Shared by the wizard checks (check_wizard.py, ctest -L ui) and by
`scripts/demo --wizard` (wizard_demo.py). It knows:

- the pages, their titles and their controls' places, read from the
  package's own ui/Dialog.idt and ui/Control.idt: a control is clicked at
  the middle of its rectangle, in dialog units scaled to the window's width;
- how to wait for a page: polling the display's windows by title, with a time
  limit, failing with the last screenshot's path;
- how to read a page back: vdzdialogs.exe (tests/programs/dialog_text.cpp)
  prints the page's controls, their texts and list items;
- the walk itself: what a person does on each page.

Wine's engine cannot move a list item that has other items beside it (the
selection buttons delete and re-insert rows through the view they are
fetching, and Wine then fetches the same place again for ever), so the walk
only moves an item that is alone in its list: the page that is skipped by
default back into the list of shown pages.
"""

import os
import signal
import subprocess
import time
from pathlib import Path

import qvacycle as q

UI = Path(__file__).resolve().parents[2] / "packages" / "qvaclient" / "ui"
TITLE_MARK = " Setup: "


class WizardError(RuntimeError):
    pass


def read_idt(name):
    """The rows of one of the package's .idt files, as dictionaries."""
    lines = (UI / name).read_text().splitlines()
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t"))) for line in lines[3:] if line]


class Layout:
    """Pages by title and controls by place, from the package's own tables."""

    def __init__(self):
        self.pages = {}      # title after "Setup: " -> dialog
        self.titles = {}     # dialog -> "Setup: " and its title
        self.width = {}      # dialog -> width in dialog units
        self.controls = {}   # (dialog, control) -> (x, y, width, height)
        self.mapped = {row["DisplayText"]: row["Dialog"] for row in read_idt("VmrDialogMapping.idt")}
        for row in read_idt("Dialog.idt"):
            self.pages.setdefault(row["Title"].split(TITLE_MARK, 1)[1], row["Dialog"])
            self.titles[row["Dialog"]] = TITLE_MARK + row["Title"].split(TITLE_MARK, 1)[1]
            self.width[row["Dialog"]] = int(row["Width"])
        for row in read_idt("Control.idt"):
            self.controls[(row["Dialog_"], row["Control"])] = tuple(
                int(row[k]) for k in ("X", "Y", "Width", "Height"))

    def dialog_of(self, title):
        return self.pages.get(title.split(TITLE_MARK, 1)[-1]) if TITLE_MARK in title else None


class Display:
    """An Xvfb display of our own, on the first free display number."""

    def __init__(self):
        read, write = os.pipe()
        self.process = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                break
            number += chunk
        os.close(read)
        if not number.strip():
            self.close()
            raise WizardError("Xvfb did not start")
        self.name = ":" + number.decode().strip()

    def close(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Wizard:
    """One msiexec /i with the full UI on a display, and the means to drive it."""

    def __init__(self, prefix, display, dialogs_exe, shots):
        self.prefix = prefix
        self.display = display
        self.dialogs_exe = str(dialogs_exe)
        self.shots = Path(shots)
        self.shots.mkdir(parents=True, exist_ok=True)
        self.layout = Layout()
        self.env = dict(prefix.env, DISPLAY=display.name)
        self.msiexec = None
        self.last_shot = None
        self.seen = []       # (dialog, image path) in the order the pages were met

    # ---- the installer process ------------------------------------------------

    def start(self, msi, props, log, limit=600):
        self.log = Path(log)
        if self.log.exists():
            self.log.unlink()
        self.msiexec = subprocess.Popen(
            ["timeout", str(limit), "wine", "msiexec", "/i", str(msi)] + list(props)
            + ["/l*v", str(self.log)],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)

    def running(self):
        return self.msiexec is not None and self.msiexec.poll() is None

    def wait_exit(self, limit):
        try:
            return self.msiexec.wait(limit)
        except subprocess.TimeoutExpired:
            raise WizardError("msiexec did not end within %d s; last screenshot: %s"
                              % (limit, self.last_shot))

    def close(self):
        if self.running():
            os.killpg(self.msiexec.pid, signal.SIGTERM)
            try:
                self.msiexec.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.msiexec.pid, signal.SIGKILL)
                self.msiexec.wait()
        self.prefix.shutdown()

    # ---- the display ----------------------------------------------------------

    def _x(self, args, limit=20):
        return subprocess.run(["timeout", str(limit)] + args, env=self.env, text=True,
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout

    def windows(self):
        """The visible wizard windows: [(window id, dialog, title)], oldest first."""
        found = []
        for wid in self._x(["xdotool", "search", "--onlyvisible", "--name", TITLE_MARK]).split():
            title = self._x(["xdotool", "getwindowname", wid]).strip()
            dialog = self.layout.dialog_of(title)
            if dialog:
                found.append((int(wid), dialog, title))
        return sorted(found)

    def screenshot(self, path, window=None):
        path = self.shots / path
        self._x(["import", "-display", self.display.name, "-window",
                 str(window) if window else "root", str(path)])
        if path.exists():
            self.last_shot = path
        return path

    def wait_page(self, dialogs, limit=60, gone=()):
        """Waits for a window of one of the dialogs (any page when dialogs is
        None) that is not one of the windows in gone; returns (id, dialog)."""
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            for wid, dialog, _ in reversed(self.windows()):
                if wid not in gone and (dialogs is None or dialog in dialogs):
                    time.sleep(1.5)   # let it paint
                    return wid, dialog
            if not self.running():
                return None, None
            time.sleep(0.5)
        shot = self.screenshot("timeout.png")
        raise WizardError("no page of %s appeared within %d s; last screenshot: %s"
                          % (", ".join(dialogs) if dialogs else "the wizard", limit, shot))

    def wait_closed(self, window, limit=30):
        deadline = time.monotonic() + limit
        while time.monotonic() < deadline:
            if window not in [wid for wid, _, _ in self.windows()]:
                return
            time.sleep(0.5)
        shot = self.screenshot("timeout.png")
        raise WizardError("window %d still open after %d s; last screenshot: %s"
                          % (window, limit, shot))

    def page(self, window, dialog, image):
        """Records a page met and its screenshot."""
        path = self.screenshot(image, window)
        self.seen.append((dialog, path))
        return path

    def click(self, window, dialog, control, dy=None):
        """Clicks a control of the page (at its middle, or dy pixels below its top)."""
        geometry = dict(line.split("=", 1) for line in self._x(
            ["xdotool", "getwindowgeometry", "--shell", str(window)]).split() if "=" in line)
        scale = int(geometry["WIDTH"]) / self.layout.width[dialog]
        x, y, width, height = self.layout.controls[(dialog, control)]
        px = int(geometry["X"]) + int((x + width / 2) * scale)
        py = int(geometry["Y"]) + (int(y * scale) + dy if dy is not None else int((y + height / 2) * scale))
        self._x(["xdotool", "mousemove", str(px), str(py), "click", "1"])
        time.sleep(0.5)

    def keys(self, *keys):
        self._x(["xdotool", "key", "--delay", "80"] + list(keys))
        time.sleep(0.3)

    def type(self, text):
        self._x(["xdotool", "type", "--delay", "60", text])
        time.sleep(0.3)

    def read(self, title):
        """What the windows whose title holds title show: [(title, [(class, enabled,
        text, [items])])]."""
        out = subprocess.run(["timeout", "60", "wine", self.dialogs_exe, title], env=self.env,
                             encoding="utf-8", errors="replace", stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL).stdout
        dialogs = []
        for line in out.splitlines():
            kind, _, rest = line.partition("\t")
            if kind == "dialog":
                dialogs.append((rest, []))
            elif kind == "control" and dialogs:
                cls, enabled, text = (rest.split("\t", 2) + ["", ""])[:3]
                dialogs[-1][1].append((cls, enabled == "1", text.replace("\\n", "\n"), []))
            elif kind == "item" and dialogs and dialogs[-1][1]:
                dialogs[-1][1][-1][3].append(rest)
        return dialogs


def list_items(controls):
    """The items of each visible list box of a page, left to right as created."""
    return [items for cls, _, _, items in controls if cls.lower() == "listbox"]


# ---- the walk -------------------------------------------------------------------

REFUSED_NAME = "desk:7"
# The page shown as a sample. Wine's DELETE, which EnableDialogCtrls sends to
# take its switched-off conditions away again, also removes rows that follow
# the ones it matches; the summary's rows come last in ControlCondition, so
# its sample leaves the other pages' list conditions in place.
SAMPLED = "Summary"
GIVEN_NAME = "RECEPTION-04"


def walk(w, limit=90):
    """Walks the wizard from its first page to its last, doing on each page what
    a person does. Returns what it read on the way: "refused" (the error
    dialog's texts), "lists" ([shown, skipped] per visit of the wizard-pages
    page), "sample", "features" and "summary" (the pages as read) and
    "report" (the summary's rich-text controls' texts)."""
    found = {}
    gone = set()
    visits = {}
    while True:
        window, dialog = w.wait_page(None, limit, gone)
        if window is None:
            return found
        gone.add(window)
        visits[dialog] = visits.get(dialog, 0) + 1
        stem = "%02d-%s" % (len(w.seen) + 1, dialog[3:-3].lower())
        if dialog == "VmrDialogsDlg" and visits[dialog] == 2:
            stem += "-after-move"
        w.page(window, dialog, stem + ".png")
        handler = PAGES.get(dialog)
        if handler:
            handler(w, window, dialog, visits[dialog], found)


def _next(w, window, dialog, *_):
    w.click(window, dialog, "Next")


def _client_name(w, window, dialog, visit, found):
    # A refused name first: the page keeps its place and shows the error text.
    w.click(window, dialog, "NameEdit")
    w.keys("End", *["BackSpace"] * 40)
    w.type(REFUSED_NAME)
    w.click(window, dialog, "Next")
    error, _ = w.wait_page(["VmrEntryErrorDlg"], 30)
    w.page(error, "VmrEntryErrorDlg", "%02d-client-name-refused.png" % (len(w.seen) + 1))
    found["refused"] = [text for _, controls in w.read(w.layout.titles["VmrEntryErrorDlg"])
                        for cls, _, text, _ in controls if cls.lower() == "static"]
    w.click(error, "VmrEntryErrorDlg", "OK")
    w.wait_closed(error)
    w.click(window, dialog, "NameEdit")
    w.keys("End", *["BackSpace"] * 40)
    w.type(GIVEN_NAME)
    w.click(window, dialog, "Next")


def _dialog_lists(w, window, dialog, visit, found):
    lists = list_items(w.read(w.layout.titles[dialog])[0][1])
    found.setdefault("lists", []).append(lists)
    if visit == 1:
        # The one skipped page back into the shown pages: alone in its list,
        # it is a move that Wine's engine can make.
        w.click(window, dialog, "SkippedList1", dy=6)
        w.click(window, dialog, "ShowButton")
        return
    # A sample of a page: its controls switched off while it is shown, on
    # again after.
    w.click(window, dialog, "ShownList1", dy=6)
    if SAMPLED not in lists[0]:
        raise WizardError("%r is not among the shown pages %r" % (SAMPLED, lists))
    w.keys(*["Down"] * lists[0].index(SAMPLED))
    w.click(window, dialog, "View")
    sample, sampled = w.wait_page([w.layout.mapped[SAMPLED]], 30)
    w.page(sample, sampled, "%02d-sample-%s.png" % (len(w.seen) + 1, sampled[3:-3].lower()))
    found["sample"] = w.read(w.layout.titles[sampled])
    w.click(sample, sampled, "Cancel")
    w.wait_closed(sample)
    w.click(window, dialog, "Next")


def _features(w, window, dialog, visit, found):
    found["features"] = w.read(w.layout.titles[dialog])
    w.click(window, dialog, "Next")


def _summary(w, window, dialog, visit, found):
    found["summary"] = w.read(w.layout.titles[dialog])
    found["report"] = [text for _, controls in found["summary"]
                       for cls, _, text, _ in controls if cls.lower().startswith("richedit")]
    w.click(window, dialog, "Next")


def _finish(w, window, dialog, *_):
    w.click(window, dialog, "Finish")


PAGES = {
    "VmrWelcomeDlg": _next,
    "VmrClientNameDlg": _client_name,
    "VmrFolderDlg": _next,
    "VmrDialogsDlg": _dialog_lists,
    "VmrFeaturesDlg": _features,
    "VmrSummaryDlg": _summary,
    "VmrFinishDlg": _finish,
}


def session(prefix_path, template, dialogs_exe, shots):
    """A Wine prefix copied from a booted template (or booted), with an
    earlier client planted, and a display; the caller closes both."""
    prefix = q.Prefix(prefix_path)
    if template and (Path(template) / "system.reg").exists():
        prefix.copy_from(template)
    else:
        prefix.boot()
    q.plant_earlier_installation(prefix)
    display = Display()
    return Wizard(prefix, display, dialogs_exe, shots), display
