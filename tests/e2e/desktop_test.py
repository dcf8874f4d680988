#!/usr/bin/env python3
"""Tarnmap as a user meets it: the installed program on its own X server, run inside a
network namespace with a host that answers, a host that never answers and a router known
by name, driven only through the X server (menus by their Alt keys, clicks and a context
menu on the map, dialogs filled in and accepted, the file dialogs, the question before
unsaved edits are lost, Exit). What is checked is what the user sees and gets: the colours
at each host's place, the map's log lines, the files written, and a clean exit.

    desktop_test.py --build-dir BUILD [--output DIR] [--keep]

Exit status 0 passed, 1 failed, 77 skipped (no root, no namespaces, or no X tools).
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import desktop  # noqa: E402
from desktop import DARK_RED, GREEN, RED, YELLOW, Failure, wait_for  # noqa: E402

SKIP = 77
MAP_TITLE = r"%s\*?( \d+)?( ?\(polling\))?"  # "*": edits not saved yet
LOG_LINE = r"\d\d/\d\d/\d\d \d\d:\d\d:\d\d "
STATUS_COLOURS = (GREEN, YELLOW, RED, DARK_RED)

# name, address (filled in when the network is up), info1, info2, column, row, flags, kind
HOSTS = [
    ["loop", "127.0.0.1", "This machine", "", 4, 5, 0, 0],
    ["alive", None, "Answers", "", 14, 5, 0, 2],
    ["silent", None, "Never answers", "", 26, 5, 0, 2],
    ["gw", "gw.e2e", "Router by name", "", 14, 14, 0, 3],
]
LINES = [(14, 14, 14, 5), (14, 14, 26, 5)]


class MapView:
    """Where the map's cells are on the screen. The grid is the main window's client area
    divided into 36 columns and 35 rows; the map area starts below the toolbar, at the
    first row of the map's background colour."""

    def __init__(self, desk, window):
        self.x, self.y, self.width, self.height = desk.geometry(window)
        shot = desk.screenshot()
        probe_x = self.x + self.width - 4
        background = shot.pixel(probe_x, self.y + self.height * 3 // 5)
        top = self.y
        while top < self.y + self.height and shot.pixel(probe_x, top) != background:
            top += 1
        self.top = top
        self.cell_width = self.width // 36
        self.cell_height = (self.height - 20) // 35  # the menu bar is not client area

    def centre(self, host):
        col, row = host[4], host[5]
        return (self.x + col * self.cell_width + self.cell_width // 2 + 4,
                self.top + row * self.cell_height + self.cell_height // 2 + 4)

    def box(self, host):
        """Around the host's picture and name, with a cell to spare on each side."""
        col, row = host[4], host[5]
        left = self.x + (col - 1) * self.cell_width
        top = self.top + (row - 1) * self.cell_height
        return (left, top, left + 5 * self.cell_width, top + 6 * self.cell_height)


class Session:
    def __init__(self, arguments):
        self.arguments = arguments
        self.work = desktop.temporary_directory()
        self.maps = os.path.join(self.work, "maps")
        os.makedirs(self.maps)
        self.output = arguments.output
        os.makedirs(self.output, exist_ok=True)
        self.network = desktop.Network()
        self.desk = desktop.Desktop(self.work)
        self.started = time.monotonic()
        self.shots = 0

    def say(self, text):
        print("[%6.1fs] %s" % (time.monotonic() - self.started, text), flush=True)

    # --- what the user sees ---

    def expect_colours(self, view, label, silent, others=(GREEN,)):
        """The silent host is painted in one of `silent`, every other host in one of `others`:
        hundreds of its pixels, and few of the other status colours (the yellow lines cross
        some boxes). The screen is kept as `label`."""
        shot = self.desk.screenshot()
        self.keep_screenshot(label)
        for host in HOSTS:
            accepted = silent if host[0] == "silent" else others
            counts = shot.count(view.box(host), STATUS_COLOURS)
            shown = sum(counts[c] for c in accepted)
            wrong = sum(n for c, n in counts.items() if c not in accepted)
            if shown < 150 or wrong > 80:
                raise Failure("%s is not shown in %s: colour counts at its place %s"
                              % (host[0], accepted, counts))

    def keep_screenshot(self, label):
        self.shots += 1
        path = os.path.join(self.output, "%02d-%s.png" % (self.shots, label))
        self.desk.save_png("root", path)

    def settings(self, name):
        with open(os.path.join(self.maps, name + ".INI"), newline="") as f:
            return f.read()

    def log_lines(self, name):
        path = os.path.join(self.maps, name + ".LOG")
        if not os.path.exists(path):
            return []
        with open(path, newline="") as f:
            return [line.rstrip("\r\n") for line in f]

    def title(self, window):
        return self.desk.name(window)

    def menu(self, window, *keys):
        """A menu command by its Alt accelerator and the item's underlined letter."""
        self.desk.keys(window, *keys)

    def wait_cycle(self, window, timeout=30):
        """One poll cycle, from the title showing "(polling)" until it no longer does."""
        wait_for(lambda: "(polling)" in self.title(window), timeout, "a poll cycle to start",
                 interval=0.05)
        wait_for(lambda: "(polling)" not in self.title(window), timeout,
                 "the poll cycle to end", interval=0.05)

    def dialog(self, title):
        return self.desk.window(re.escape(title))

    def open_refused_while_polling(self, main, keys, title):
        """A dialog whose command does nothing while a poll cycle runs: asked for again,
        after the cycle, when a cycle got in the way."""
        for attempt in range(4):
            wait_for(lambda: "(polling)" not in self.title(main), 30, "the cycle to end",
                     interval=0.05)
            self.menu(main, *keys)
            try:
                return self.desk.window(re.escape(title), timeout=4)
            except Failure:
                self.say("%s did not open (a cycle started?), again" % title)
        raise Failure("the %s dialog never opened" % title)

    # --- the session ---

    def run(self):
        binary = desktop.install_build(self.arguments.build_dir, os.path.join(self.work, "prefix"))
        self.say("installed %s" % binary)
        addresses = self.network.build([("alive", True), ("silent", False)],
                                       "%s\tgw.e2e gw\n" % desktop.Network.ROUTER)
        HOSTS[1][1] = addresses["alive"]
        HOSTS[2][1] = addresses["silent"]
        self.say("network: %s (client), alive %s, silent %s, gw.e2e %s" % (
            self.network.client, addresses["alive"], addresses["silent"],
            desktop.Network.ROUTER))
        map_path = os.path.join(self.maps, "e2e.db")
        desktop.write_map(map_path, "End-to-end map", HOSTS, LINES,
                          {"TIMER": 5, "WAIT": 1000, "NOCHECK": 0})
        self.desk.start_x()
        self.say("X server %s" % self.desk.display)
        self.desk.start_program(binary, self.network.client, "e2e.db", self.maps)
        main = self.desk.window(MAP_TITLE % "e2e", timeout=60)
        self.say("main window %s: %s" % (main, self.title(main)))

        self.fresh_map_is_yellow(main)
        view = MapView(self.desk, main)
        self.monitoring(main, view)
        self.host_information(main, view)
        self.host_detail(main, view)
        self.preferences(main)
        saved = self.save_as(main)
        self.load_again(main, view, map_path, saved)
        self.unsaved_edit(main, view, saved)
        self.exit(main)

    def fresh_map_is_yellow(self, main):
        # A map just loaded counts two missed checks for every host, until the first cycle
        # (ten seconds after start) tells better.
        match = wait_for(lambda: re.fullmatch(r"e2e (\d+)", self.title(main)), 30,
                         "the countdown in the title")
        if match is None or int(match.group(1)) < 2:
            self.say("first cycle too close to check the fresh colours: %s" % self.title(main))
            return
        self.expect_colours(MapView(self.desk, main), "fresh", (YELLOW,), (YELLOW,))
        self.say("fresh map: every host yellow")

    def monitoring(self, main, view):
        # Tools > Check at once; then the automatic cycles every TIMER seconds.
        self.menu(main, "alt+t", "c")
        self.wait_cycle(main)
        self.expect_colours(view, "first-cycle", (YELLOW,))
        self.say("after Tools > Check: loop, alive and gw green, silent yellow")

        down = "silent [%s] down, Timed out" % HOSTS[2][1]
        wait_for(lambda: any(line.endswith(down) for line in self.log_lines("e2e")), 60,
                 "the down line of silent in e2e.LOG")
        lines = self.log_lines("e2e")
        if not re.fullmatch(LOG_LINE + re.escape("open of database e2e.db"), lines[0]):
            raise Failure("first log line: %r" % lines[0])
        downs = [line for line in lines if " down, " in line]
        if len(downs) != 1 or not re.fullmatch(LOG_LINE + re.escape(down), downs[0]):
            raise Failure("down lines: %r" % downs)
        self.expect_colours(view, "silent-down", (RED, DARK_RED))
        self.say("automatic cycles: %r; silent red, the others green" % downs[0])

    def set_info_line(self, view, host, text):
        """Right click on the host, "Properties..." (the last item), a new second info line."""
        x, y = view.centre(host)
        self.desk.click(x, y, button=3)
        popup = self.desk.popup_menu()
        self.desk.keys(popup, "Up", "Return")
        info = self.dialog("Host Information")
        self.desk.keys(info, "Tab", "Tab", "Tab")
        self.desk.type_text(info, text)
        self.desk.keys(info, "Return")
        self.desk.window_gone(info)

    def host_information(self, main, view):
        self.set_info_line(view, HOSTS[1], "rack 7")
        settings = self.settings("e2e")
        if "[alive]\r\n" not in settings or "LOG=1\r\n" not in settings:
            raise Failure("Host Information wrote no [alive] section:\n" + settings)
        self.say("context menu > Properties...: info line 2 of alive set, settings written")

    def host_detail(self, main, view):
        # Holding the left button on a host shows its details until the button comes up.
        x, y = view.centre(HOSTS[2])
        self.desk.xdo("mousemove", "--sync", x, y)
        self.desk.xdo("mousedown", 1)
        try:
            detail = self.desk.window("silent")
            self.keep_screenshot("detail")
        finally:
            self.desk.xdo("mouseup", 1)
        self.desk.window_gone(detail)
        self.say("host detail window of silent shown and closed")

    def preferences(self, main):
        # Options > Preferences: seconds between checks 7, "Save Map Options" (the default).
        options = self.open_refused_while_polling(main, ("alt+o", "p"), "Options")
        self.desk.type_text(options, "7")  # the field starts focused and selected
        self.desk.keys(options, "Return")
        self.desk.window_gone(options)
        settings = self.settings("e2e")
        if "TIMER=7\r\n" not in settings:
            raise Failure("Preferences did not save TIMER=7:\n" + settings)
        self.say("Options > Preferences: TIMER=7 saved with the map")

    def file_dialog(self, main, letter, title, path):
        self.menu(main, "alt+f", letter)
        chooser = self.dialog(title)
        self.desk.keys(chooser, "ctrl+a")
        self.desk.type_text(chooser, path)
        self.desk.keys(chooser, "Return")
        self.desk.window_gone(chooser)

    def save_as(self, main):
        saved = os.path.join(self.maps, "saved.db")
        if not self.title(main).startswith("e2e*"):
            raise Failure("the edited map's title has no \"*\": %r" % self.title(main))
        self.file_dialog(main, "a", "Save As", saved)
        wait_for(lambda: os.path.exists(saved), 10, "saved.db")
        self.desk.window(MAP_TITLE % "saved")
        if "*" in self.title(main):
            raise Failure("the title still says unsaved after Save As: %r" % self.title(main))
        hosts = desktop.read_hosts(saved)
        expected = [(h[0], h[1], h[2], "rack 7" if h[0] == "alive" else h[3], str(h[4]),
                     str(h[5]), str(h[6]), "1", str(h[7])) for h in HOSTS]
        if hosts != expected:
            raise Failure("saved.db holds %r, expected %r" % (hosts, expected))
        # The map's settings went along: its options and the host sections.
        settings, carried = self.settings("e2e"), self.settings("saved")
        if carried != settings or "[alive]\r\n" not in carried or "TIMER=7\r\n" not in carried:
            raise Failure("saved.INI holds %r, e2e.INI %r" % (carried, settings))
        self.say("File > Save As: saved.db with the four hosts and the new info line, "
                 "saved.INI with the map's settings")
        return saved

    def load_again(self, main, view, original, saved):
        self.file_dialog(main, "l", "Open", original)
        self.desk.window(MAP_TITLE % "e2e")
        self.file_dialog(main, "l", "Open", saved)
        self.desk.window(MAP_TITLE % "saved")
        opened = self.log_lines("saved")
        if not opened or not re.fullmatch(LOG_LINE + re.escape("open of database " + saved),
                                          opened[0]):
            raise Failure("saved.LOG after loading saved.db: %r" % opened)
        # Its settings came along with Save As: automatic checks every 7 seconds.
        self.wait_cycle(main)
        self.expect_colours(view, "reloaded-checked", (YELLOW,))
        self.say("File > Load: e2e.db, then saved.db: the same hosts in their places, "
                 "checked automatically by the settings that came along")

    def unsaved_edit(self, main, view, saved):
        # An edit, then Exit: the question, answered Cancel (Escape), keeps the program and
        # the edit; Exit again, answered Discard, ends it without writing the map.
        before = desktop.read_hosts(saved)
        self.set_info_line(view, HOSTS[3], "not kept")
        wait_for(lambda: self.title(main).startswith("saved*"), 10, "the title's \"*\"")
        self.menu(main, "alt+f", "x")
        question = self.dialog("Tarnmap")
        self.keep_screenshot("save-question")
        self.desk.keys(question, "Escape")
        self.desk.window_gone(question)
        time.sleep(1)
        self.desk.check_alive()
        if not self.title(main).startswith("saved*"):
            raise Failure("after Cancel the title is %r" % self.title(main))
        self.menu(main, "alt+f", "x")
        question = self.dialog("Tarnmap")
        self.desk.keys(question, "Tab", "space")  # from Save to Discard
        try:
            self.desk.program.wait(20)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end after Discard")
        if desktop.read_hosts(saved) != before:
            raise Failure("Discard wrote the map: %r" % desktop.read_hosts(saved))
        self.say("an unsaved edit: Exit asked, Cancel kept it, Discard ended without saving")

    def exit(self, main):
        """The end of the Exit that unsaved_edit answered with Discard."""
        try:
            status = self.desk.program.wait(20)
        except subprocess.TimeoutExpired:
            raise Failure("the program did not end within 20s of File > Exit")
        if status != 0:
            raise Failure("exit status %d after File > Exit; output:\n%s"
                          % (status, self.desk.program_output()))
        left = self.network.pids()
        if left:
            raise Failure("processes left in the program's namespace: %s" % left)
        if self.desk.visible_windows():
            raise Failure("windows left after Exit: %r" % self.desk.visible_windows())
        self.say("File > Exit: status 0, no process and no window left")

    def close(self, failed):
        if failed:
            try:
                if self.desk.display and self.desk.xvfb.poll() is None:
                    self.keep_screenshot("failure")
            except Exception as e:  # the picture is a help, not the verdict
                self.say("no failure screenshot: %s" % e)
            for name in ("e2e", "saved"):
                for line in self.log_lines(name):
                    self.say("%s.LOG: %s" % (name, line))
            self.say("program output:\n" + self.desk.program_output())
        self.desk.stop()
        self.network.remove()
        if self.arguments.keep:
            self.say("kept " + self.work)
        else:
            shutil.rmtree(self.work, ignore_errors=True)


def missing_prerequisite():
    if os.geteuid() != 0:
        return "network namespaces need root"
    for tool in ("ip", "Xvfb", "xdotool", "xwininfo", "import"):
        if shutil.which(tool) is None:
            return "%s is not installed (scripts/bootstrap installs it)" % tool
    probe = "%s%d-e2e-probe" % (desktop.NAMESPACE_PREFIX, os.getpid())
    if desktop.run(["ip", "netns", "add", probe], check=False).returncode != 0:
        return "`ip netns add` failed: no network namespaces here"
    desktop.run(["ip", "netns", "delete", probe], check=False)
    return None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--output", default=None)
    parser.add_argument("--keep", action="store_true", help="keep the temporary directory")
    arguments = parser.parse_args()
    if arguments.output is None:
        arguments.output = os.path.join(arguments.build_dir, "test-output", "e2e")
    why = missing_prerequisite()
    if why:
        print("SKIPPED: " + why)
        return SKIP

    def stop(number, frame):
        raise Failure("stopped by signal %d" % number)
    signal.signal(signal.SIGTERM, stop)

    session = Session(arguments)
    failed = True
    try:
        session.run()
        failed = False
    except Failure as e:
        session.say("FAILED: %s" % e)
    finally:
        session.close(failed)
    if not failed:
        session.say("passed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
