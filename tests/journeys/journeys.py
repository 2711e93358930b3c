#!/usr/bin/env python3
"""The desktop program driven as a user drives it.

Each journey starts the real `kestrix` on its own Xvfb display (no window
manager), with its own home and settings folder, presses keys and clicks
with xdotool at the places the window's first-start layout puts its
widgets, ends the program through File > Exit, and then looks at the
files, the settings file and the exit status.

    journeys.py KESTRIX_BINARY JOURNEY [--shots FOLDER]
    journeys.py KESTRIX_BINARY --list
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

TITLE = "Marquell Kestrix v2.0"

# Places in the main window at its first start (660 x 554, default bars),
# relative to the window's top left corner.
ADDRESS_BOX = (317, 98)
GO_BUTTON = (628, 98)
TOOL_BACK = (43, 50)
TOOL_FORWARD = (106, 50)
TOOL_UP = (168, 50)
TOOL_ENCRYPT = (236, 50)
TOOL_RESTORE = (393, 50)
TOOL_OPTIONS = (463, 50)
LIST_FIRST_ITEM = (249, 123)
LIST_ROW = 18
STATUS_BAR = (600, 545)
# In the application options dialog, relative to its top left corner.
OPTIONS_FILTER = (161, 82)

PAGE = "<html><head><title>{0}</title></head><body><p>{0} text</p></body></html>\n"


class JourneyFailed(Exception):
    pass


def check(condition, message):
    if not condition:
        raise JourneyFailed(message)


class Desktop:
    """An Xvfb display, a home, and the program running on them."""

    def __init__(self, binary, shots):
        self.binary = binary
        self.shots = shots
        self.root = tempfile.mkdtemp(prefix="kestrix-journey-")
        self.home = os.path.join(self.root, "home")
        self.site = os.path.join(self.root, "site")
        os.makedirs(os.path.join(self.home, ".config"))
        os.makedirs(self.site)
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1280x1024x24", "-nolisten", "tcp"],
            pass_fds=[write], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read, 16)
            if not chunk:
                raise JourneyFailed("Xvfb did not start")
            number += chunk
        os.close(read)
        self.display = ":" + number.decode().strip()
        self.program = None
        self.window = None
        self.stderr = ""

    def env(self):
        env = {k: v for k, v in os.environ.items() if not k.startswith("QT_")}
        env.update({"DISPLAY": self.display, "HOME": self.home,
                    "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
                    "XDG_DATA_HOME": os.path.join(self.home, ".local", "share"),
                    "XDG_CACHE_HOME": os.path.join(self.home, ".cache"),
                    "XDG_RUNTIME_DIR": self.root, "LANG": "C.UTF-8"})
        return env

    def close(self):
        if self.program and self.program.poll() is None:
            self.program.kill()
            self.program.wait()
        self.xvfb.terminate()
        self.xvfb.wait()
        shutil.rmtree(self.root, ignore_errors=True)

    # ---- files --------------------------------------------------------------

    def path(self, *parts):
        return os.path.join(self.site, *parts)

    def page(self, *parts):
        path = self.path(*parts)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "w") as f:
            f.write(PAGE.format(os.path.basename(path)))
        return path

    @staticmethod
    def text(path):
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def secured(self, *parts):
        return "kestrix-content" in self.text(self.path(*parts))

    def settings(self):
        path = os.path.join(self.home, ".config", "Marquell", "Marquell Kestrix.conf")
        return self.text(path) if os.path.exists(path) else ""

    def setting(self, section, name):
        current = None
        for line in self.settings().splitlines():
            if line.startswith("["):
                current = line.strip()[1:-1]
            elif current == section and line.split("=", 1)[0] == name:
                value = line.split("=", 1)[1]
                match = re.fullmatch(r'@ByteArray\((.*)\)', value)
                if match:
                    return match.group(1)
                # A text with ";" or "," is written in quotes.
                return value[1:-1] if len(value) > 1 and value[0] == value[-1] == '"' else value
        return None

    # ---- the program --------------------------------------------------------

    def xdo(self, *args):
        result = subprocess.run(["xdotool", *map(str, args)], env=self.env(),
                                capture_output=True, text=True)
        return result.stdout.strip()

    def visible_windows(self):
        found = self.xdo("search", "--onlyvisible", "--name", ".")
        return [w for w in found.split() if w]

    def name(self, window):
        return self.xdo("getwindowname", window)

    def geometry(self, window):
        out = self.xdo("getwindowgeometry", window)
        x, y = map(int, re.search(r"Position: (-?\d+),(-?\d+)", out).groups())
        w, h = map(int, re.search(r"Geometry: (\d+)x(\d+)", out).groups())
        return x, y, w, h

    def start(self, *args, cwd=None, wait_main=True):
        self.program = subprocess.Popen([self.binary, *args], env=self.env(), cwd=cwd or self.site,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        text=True)
        # A new program may be given the window number of the one before.
        self.window = None
        if wait_main:
            self.window = self.wait_window(lambda w: self.name(w) == TITLE, timeout=40)
            # The deferred start-up runs once the window is on screen.
            time.sleep(1.5)

    def wait_window(self, test, timeout=20, exclude=(), what="window"):
        deadline = time.time() + timeout
        while time.time() < deadline:
            for window in self.visible_windows():
                if window not in exclude and window != self.window and test(window):
                    return window
            if self.program.poll() is not None:
                raise JourneyFailed("the program ended (status %d) before a window appeared: %s"
                                    % (self.program.returncode, self.program.stderr.read()))
            time.sleep(0.2)
        raise JourneyFailed("no %s appeared" % what)

    def is_dialog(self, window):
        # A window of its own with a title: not a tooltip, a menu or the
        # application's hidden helper window.
        return window != self.window and self.geometry(window)[2] > 1 and bool(self.name(window))

    def dialog(self, timeout=20, what="window"):
        """The next window other than the main window."""
        return self.wait_window(self.is_dialog, timeout, what=what)

    def no_dialog_within(self, seconds):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if any(self.is_dialog(w) for w in self.visible_windows()):
                return False
            time.sleep(0.2)
        return True

    def wait_gone(self, window, timeout=30):
        deadline = time.time() + timeout
        while time.time() < deadline:
            if window not in self.visible_windows():
                return
            time.sleep(0.2)
        raise JourneyFailed("a window stayed open")

    def wait_quiet(self, timeout=30):
        """Waits until only the main window is shown."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            if not any(self.is_dialog(w) for w in self.visible_windows()):
                return
            time.sleep(0.2)
        raise JourneyFailed("a dialog stayed open")

    def click(self, at, window=None, modifier=None):
        window = window or self.window
        self.xdo("mousemove", "--window", window, at[0], at[1])
        time.sleep(0.15)
        if modifier:
            self.xdo("keydown", modifier)
        self.xdo("click", 1)
        if modifier:
            self.xdo("keyup", modifier)
        self.rest_pointer()
        time.sleep(0.4)

    def rest_pointer(self):
        # Away from every widget, so that no tooltip opens.
        self.xdo("mousemove", 0, 0)

    def double_click(self, at):
        self.xdo("mousemove", "--window", self.window, at[0], at[1])
        time.sleep(0.15)
        self.xdo("click", "--repeat", 2, "--delay", 80, 1)
        self.rest_pointer()
        time.sleep(0.6)

    def focus_main(self):
        """A click on the status bar: without a window manager the main
        window gets the keyboard back only when clicked, like any window
        whose dialog has closed."""
        self.click(STATUS_BAR)

    def key(self, *keys):
        for k in keys:
            self.xdo("key", k)
            time.sleep(0.25)

    def type_address(self, text):
        """Clicks into the address box and types the text over what it held."""
        self.click(ADDRESS_BOX)
        self.key("ctrl+a")
        self.xdo("type", "--delay", 15, text)
        time.sleep(0.5)

    def go(self, text, key="Return"):
        self.type_address(text)
        self.key(key)
        time.sleep(0.8)

    def go_by_button(self, text):
        # The completion list takes the first click; Escape closes it first.
        self.type_address(text)
        self.key("Escape")
        self.click(GO_BUTTON)
        time.sleep(0.8)

    def list_item(self, row):
        return (LIST_FIRST_ITEM[0], LIST_FIRST_ITEM[1] + row * LIST_ROW)

    def shot(self, name):
        if not self.shots:
            return
        os.makedirs(self.shots, exist_ok=True)
        subprocess.run(["import", "-window", "root", os.path.join(self.shots, name + ".png")],
                       env=self.env(), check=False)

    def grab(self, region):
        """The pixels of a region of the main window, as PPM bytes."""
        x, y, _, _ = self.geometry(self.window)
        rx, ry, w, h = region
        return subprocess.run(["import", "-window", "root", "-crop",
                               "%dx%d+%d+%d" % (w, h, x + rx, y + ry), "ppm:-"],
                              env=self.env(), capture_output=True).stdout

    def secure_selection(self, answers=()):
        """Encrypt... from the Edit menu; the protection options with OK."""
        self.focus_main()
        self.key("alt+e", "c")
        for answer in answers:
            box = self.dialog()
            self.key(answer)
            self.wait_gone(box)
        options = self.dialog(what="protection options dialog")
        self.key("Return")
        self.wait_gone(options)

    def exit(self):
        """File > Exit; returns the exit status."""
        self.wait_quiet()
        self.focus_main()
        self.key("alt+f", "x")
        try:
            status = self.program.wait(timeout=20)
        except subprocess.TimeoutExpired:
            raise JourneyFailed("File > Exit did not end the program")
        self.stderr = self.program.stderr.read()
        return status

    def end(self, timeout=30):
        try:
            status = self.program.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise JourneyFailed("the program did not end")
        self.stderr = self.program.stderr.read()
        return status


# ---- the journeys ---------------------------------------------------------------

def selection_stays_in_its_folder(d):
    """a.html selected in one folder, d.html Ctrl+clicked in another: only d.html."""
    d.page("one", "a.html")
    d.page("two", "d.html")
    d.start(d.path("one"))
    d.go_by_button(d.path("one", "a.html"))
    d.go_by_button(d.path("two"))
    d.click(d.list_item(0), modifier="ctrl")
    d.secure_selection()
    d.wait_quiet()
    check(d.exit() == 0, "exit status")
    check(d.secured("two", "d.html"), "d.html was not secured")
    check(not d.secured("one", "a.html"), "a.html of the folder left behind was secured")


def address_return_goes(d):
    """A folder typed with Return, a file typed with keypad Enter."""
    d.page("one", "a.html")
    d.page("two", "d.html")
    d.page("two", "e.html")
    d.start(d.path("one"))
    d.go(d.path("two"))
    d.go(d.path("two", "e.html"), key="KP_Enter")
    d.secure_selection()
    d.wait_quiet()
    check(d.exit() == 0, "exit status")
    check(d.secured("two", "e.html"), "the typed file was not selected and secured")
    check(not d.secured("two", "d.html"), "another file was secured")
    check(d.setting("FormKestrix", "ActiveDirectory") == d.path("two"),
          "the typed folder was not shown: " + str(d.setting("FormKestrix", "ActiveDirectory")))


def up_leaves_no_phantom_selection(d):
    """Into a folder by double-click, Up, Ctrl+click another: only that one."""
    d.page("one", "a.html")
    d.page("two", "d.html")
    d.start(d.site)
    d.double_click(d.list_item(0))  # "one"
    d.click(TOOL_UP)
    d.click(d.list_item(1), modifier="ctrl")  # "two"
    # The folder question, then the options.
    d.secure_selection(answers=["alt+y"])
    d.wait_quiet()
    check(d.exit() == 0, "exit status")
    check(d.secured("two", "d.html"), "the chosen folder was not secured")
    check(not d.secured("one", "a.html"), "the folder left by Up was secured as well")


def problems_are_shown_after_securing(d):
    """A file named "Kestrix Backup" is in the way: the run ends with a warning."""
    d.page("one", "a.html")
    with open(d.path("one", "Kestrix Backup"), "w") as f:
        f.write("in the way")
    d.start(d.path("one"))
    d.go_by_button(d.path("one", "a.html"))
    d.secure_selection()
    box = d.dialog(what="warning listing the problems")
    check(d.name(box) == TITLE, "the warning is titled with the program's title")
    d.shot("problems-after-securing")

    d.key("Return")
    d.wait_gone(box)
    check(d.exit() == 0, "exit status")
    check(not d.secured("one", "a.html"), "a.html changed")


def problems_are_shown_after_restoring(d):
    """Restoring a read-only secured page: the run ends with a warning."""
    d.page("one", "a.html")
    d.start(d.path("one"))
    d.go_by_button(d.path("one", "a.html"))
    d.secure_selection()
    d.wait_quiet()
    check(d.secured("one", "a.html"), "a.html was not secured")
    os.chmod(d.path("one", "a.html"), 0o444)
    d.focus_main()
    d.key("alt+e", "r")
    question = d.dialog()
    d.key("alt+y")
    d.wait_gone(question)
    box = d.dialog(what="warning listing the problems")
    d.shot("problems-after-restoring")

    d.key("Return")
    d.wait_gone(box)
    check(d.exit() == 0, "exit status")
    check(d.secured("one", "a.html"), "the read-only page was restored after all")


def tool_bar_is_translated(d):
    """With a language file the tool bar's captions change like the menus'."""
    folder = os.path.join(d.root, "bin")
    os.makedirs(folder)
    binary = os.path.join(folder, "kestrix")
    shutil.copy2(d.binary, binary)
    d.page("one", "a.html")
    bar = (0, 30, 660, 45)
    d.start(d.path("one"))
    english = d.grab(bar)
    check(d.exit() == 0, "exit status")
    with open(os.path.join(folder, "lang.txt"), "w") as f:
        f.write("<//TFormKestrix-\n")
        # Captions of the tool bar alone ("Forward" is also an action's
        # caption, which was always translated).
        for english_text, translated in [("Encrypt", "Verschlüsseln"),
                                         ("Edit", "Bearbeiten"), ("View", "Ansehen"),
                                         ("Restore", "Zurückholen"), ("Options", "Optionen"),
                                         ("&File", "&Datei")]:
            f.write("E=%s\nT=%s\n" % (english_text, translated))
    d.binary = binary
    # A first start again, so that only the language file differs.
    shutil.rmtree(os.path.join(d.home, ".config", "Marquell"), ignore_errors=True)
    d.start(d.path("one"))
    d.shot("translated-tool-bar")
    translated = d.grab(bar)
    check(english and translated, "no screenshot")
    check(english != translated, "the tool bar's captions stayed English")
    d.focus_main()
    d.key("alt+d", "x")  # "&Datei" > Exit
    check(d.end() == 0, "exit status")


def batch_refuses_the_kept_name(d):
    """kestrix -e -i a.html a.html.kestrix: refused, a.html as it was."""
    d.page("a.html")
    before = d.text(d.path("a.html"))
    d.start("-e", "-i", "a.html", "a.html.kestrix", wait_main=False)
    options = d.dialog()
    d.key("Return")
    d.wait_gone(options)
    error = d.dialog(what="error box")
    d.key("Return")
    d.wait_gone(error)
    check(d.end() == 1, "exit status")
    check(d.text(d.path("a.html")) == before, "a.html changed")
    check(not os.path.exists(d.path("a.html.kestrix")), "a.html.kestrix was written")
    # The error, shown in the box, is also on standard error.
    check("is the name the original is kept under" in d.stderr, "the error: " + d.stderr)


def batch_without_output_names_the_input(d):
    """kestrix -e -i page.html: the error names page.html."""
    d.page("page.html")
    before = d.text(d.path("page.html"))
    d.start("-e", "-i", "page.html", wait_main=False)
    options = d.dialog()
    d.key("Return")
    d.wait_gone(options)
    error = d.dialog(what="error box")
    d.key("Return")
    d.wait_gone(error)
    check(d.end() == 1, "exit status")
    check(d.text(d.path("page.html")) == before, "page.html changed")
    check(d.path("page.html") in d.stderr, "the error does not name the input: " + d.stderr)


def folder_secured_and_restored(d):
    """A folder selected in the list, secured, then restored."""
    for name in ("a.html", "b.html", "c.html"):
        d.page("one", name)
    originals = {n: d.text(d.path("one", n)) for n in ("a.html", "b.html", "c.html")}
    d.start(d.site)
    d.click(d.list_item(0))  # "one"
    d.secure_selection(answers=["alt+y"])
    d.wait_quiet()
    for name in originals:
        check(d.secured("one", name), name + " was not secured")
        check(os.path.exists(d.path("one", "Kestrix Backup", name)), name + " has no backup")
    d.click(d.list_item(0))
    d.focus_main()
    d.key("alt+e", "r")
    # The restore question, then the folder question.
    for _ in range(2):
        question = d.dialog()
        d.key("alt+y")
        d.wait_gone(question)
    d.wait_quiet()
    check(d.exit() == 0, "exit status")
    for name, text in originals.items():
        check(d.text(d.path("one", name)) == text, name + " was not restored")


def navigation_and_remembered_folder(d):
    """Back, Forward and Up; the folder shown is there again after a restart."""
    d.page("one", "inner", "a.html")
    d.page("two", "d.html")
    d.start(d.path("one", "inner"))
    d.go(d.path("two"))
    d.click(TOOL_BACK)  # one/inner
    d.click(TOOL_FORWARD)  # two
    d.click(TOOL_BACK)  # one/inner
    d.click(TOOL_UP)  # one
    check(d.exit() == 0, "exit status")
    check(d.setting("FormKestrix", "ActiveDirectory") == d.path("one"),
          "after Back, Forward, Back, Up: " + str(d.setting("FormKestrix", "ActiveDirectory")))
    d.start()
    # The remembered folder is shown: "inner" is its first item; Up goes to
    # the site.
    d.double_click(d.list_item(0))
    check(d.exit() == 0, "exit status")
    check(d.setting("FormKestrix", "ActiveDirectory") == d.path("one", "inner"),
          "after a restart: " + str(d.setting("FormKestrix", "ActiveDirectory")))


def options_ok_cancel_defaults(d):
    """The file filter changed with OK, changed and cancelled, set back with Defaults."""
    d.page("one", "a.html")
    d.start(d.path("one"))

    def open_options():
        d.click(TOOL_OPTIONS)
        dialog = d.dialog()
        return dialog

    dialog = open_options()
    x, y, w, h = d.geometry(dialog)
    mx, my, mw, mh = d.geometry(d.window)
    check(abs((x + w // 2) - (mx + mw // 2)) <= 2 and abs((y + h // 2) - (my + mh // 2)) <= 2,
          "the options dialog is not centred on the main window")
    # The filter box, then OK with Return.
    d.click(OPTIONS_FILTER, window=dialog)
    d.key("ctrl+a")
    d.xdo("type", "*.txt")
    d.key("Return")
    d.wait_gone(dialog)
    d.wait_quiet()
    filter_ok = d.setting("FormKestrixOptions", "EditFileFilter.Text")
    # Changed, then Cancel with Escape.
    dialog = open_options()
    d.click(OPTIONS_FILTER, window=dialog)
    d.key("ctrl+a")
    d.xdo("type", "*.xyz")
    d.key("Escape")
    d.wait_gone(dialog)
    d.wait_quiet()
    filter_cancelled = d.setting("FormKestrixOptions", "EditFileFilter.Text")
    # Defaults, then OK, both at the bottom.
    dialog = open_options()
    x, y, w, h = d.geometry(dialog)
    d.click((47, h - 20), window=dialog)
    d.click((188, h - 20), window=dialog)
    d.wait_gone(dialog)
    check(d.exit() == 0, "exit status")
    check(filter_ok == "*.txt", "OK did not store the filter: " + str(filter_ok))
    check(filter_cancelled == "*.txt", "Cancel stored the filter: " + str(filter_cancelled))
    check(d.setting("FormKestrixOptions", "EditFileFilter.Text") == "*.htm;*.html;*.asp;*.php",
          "Defaults and OK: " + str(d.setting("FormKestrixOptions", "EditFileFilter.Text")))


def backup_folder_is_not_secured(d):
    """The backup folder selected in the list is passed over by Encrypt."""
    d.page("one", "a.html")
    d.start(d.path("one"))
    d.go_by_button(d.path("one", "a.html"))
    d.secure_selection()
    d.wait_quiet()
    backup = d.path("one", "Kestrix Backup", "a.html")
    check(os.path.exists(backup), "no backup")
    kept = d.text(backup)
    # The list shows "Kestrix Backup" first (folders first); securing it
    # secures nothing.
    d.click(d.list_item(0))
    d.focus_main()
    d.key("alt+e", "c")
    check(d.no_dialog_within(2), "securing the backup folder was offered")
    check(d.exit() == 0, "exit status")
    check(d.text(backup) == kept, "the backup was secured")
    check(not os.path.exists(d.path("one", "Kestrix Backup", "Kestrix Backup")),
          "a backup of the backup folder was made")


JOURNEYS = {f.__name__: f for f in [
    selection_stays_in_its_folder, address_return_goes, up_leaves_no_phantom_selection,
    problems_are_shown_after_securing, problems_are_shown_after_restoring,
    tool_bar_is_translated, batch_refuses_the_kept_name, batch_without_output_names_the_input,
    folder_secured_and_restored, navigation_and_remembered_folder, options_ok_cancel_defaults,
    backup_folder_is_not_secured]}


def main(argv):
    if len(argv) >= 3 and argv[2] == "--list":
        print("\n".join(JOURNEYS))
        return 0
    if len(argv) < 3 or argv[2] not in JOURNEYS:
        print(__doc__, file=sys.stderr)
        return 2
    shots = argv[4] if len(argv) > 4 and argv[3] == "--shots" else os.environ.get("JOURNEY_SHOTS")
    for tool in ("Xvfb", "xdotool", "import"):
        if not shutil.which(tool):
            print("%s is not installed (scripts/setup installs it)" % tool, file=sys.stderr)
            return 1
    desktop = Desktop(os.path.abspath(argv[1]), shots)
    try:
        JOURNEYS[argv[2]](desktop)
    except JourneyFailed as failure:
        desktop.shot("failed-" + argv[2])
        print("FAILED: %s: %s" % (argv[2], failure), file=sys.stderr)
        if desktop.stderr:
            print(desktop.stderr, file=sys.stderr)
        return 1
    finally:
        desktop.close()
    print("passed: " + argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
