"""The machinery for driving the installed tarnmap as a user would: network namespaces with
hosts that answer and hosts that never do, a virtual X server of our own, the program
started inside a namespace on that display, and xdotool for the mouse and the keys.
Screenshots come from ImageMagick's `import` and are read here as plain RGB rows.

Only loopback and the addresses inside the namespaces made here are ever targets.
"""

import ctypes
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time

NAMESPACE_PREFIX = "tarnmap-"
LEAK_SUPPRESSIONS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "lsan.supp")
HOSTS_DIRECTORY = "/etc/netns"
PR_SET_PDEATHSIG = 1

# The colours a host is painted in, by the default colour table.
GREEN = (0, 255, 0)
YELLOW = (255, 255, 0)
RED = (255, 0, 0)
DARK_RED = (192, 0, 0)


def end_with_parent():
    """Run in a child before it starts its program: the child is killed when we die, even
    by SIGKILL, so no X server or program outlives a killed test."""
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


class Failure(Exception):
    """What the user would have seen go wrong."""


def run(command, check=True, **options):
    result = subprocess.run(command, capture_output=True, text=True, **options)
    if check and result.returncode != 0:
        raise Failure("%s failed (%d): %s" % (" ".join(command), result.returncode,
                                               result.stderr.strip()))
    return result


def wait_for(condition, timeout, what, interval=0.1):
    """Polls `condition` until it returns something true; fails after `timeout` seconds."""
    deadline = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out after %gs waiting for %s" % (timeout, what))
        time.sleep(interval)


def remove_stale_namespaces():
    """Namespaces and hosts files that killed runs left behind: "tarnmap-<pid>-..." whose
    process is gone (the same naming the C++ tests use, so either side cleans up)."""
    names = run(["ip", "netns", "list"], check=False).stdout.split()
    folders = os.listdir(HOSTS_DIRECTORY) if os.path.isdir(HOSTS_DIRECTORY) else []
    for name in set(names) | set(folders):
        match = re.match(re.escape(NAMESPACE_PREFIX) + r"(\d+)-e2e-", name)
        if match is None or os.path.exists("/proc/" + match.group(1)):
            continue
        run(["ip", "netns", "delete", name], check=False)
        shutil.rmtree(os.path.join(HOSTS_DIRECTORY, name), ignore_errors=True)


class Network:
    """A client namespace (where the program runs) behind a router namespace, which routes
    to one namespace per far host. A far host either answers echoes or ignores them all.

        client 10.77.1.1 --- 10.77.1.2 router 10.77.N.1 --- 10.77.N.2 host N (N = 2, 3, ...)
    """

    CLIENT = "10.77.1.1"
    ROUTER = "10.77.1.2"

    def __init__(self):
        self.names = []
        self.tag = "%s%d-e2e-" % (NAMESPACE_PREFIX, os.getpid())
        self.hosts_folder = None

    def namespace(self, role):
        name = self.tag + role
        run(["ip", "netns", "add", name])
        self.names.append(name)
        self.ip(name, "link", "set", "lo", "up")
        return name

    def ip(self, namespace, *arguments):
        run(["ip", "-n", namespace] + list(arguments))

    def sysctl(self, namespace, key, value):
        path = "/proc/sys/" + key.replace(".", "/")
        run(["ip", "netns", "exec", namespace, "sh", "-c", 'echo %s > %s' % (value, path)])

    def join(self, a, device_a, address_a, b, device_b, address_b):
        self.ip(a, "link", "add", device_a, "type", "veth", "peer", "name", device_b, "netns", b)
        self.ip(a, "address", "add", address_a, "dev", device_a)
        self.ip(b, "address", "add", address_b, "dev", device_b)
        self.ip(a, "link", "set", device_a, "up")
        self.ip(b, "link", "set", device_b, "up")

    def build(self, far_hosts, hosts_file=""):
        """`far_hosts`: (role, answers) pairs; host i gets 10.77.(i+2).2. Returns their
        addresses. `hosts_file` becomes /etc/hosts for programs run in the client."""
        remove_stale_namespaces()
        self.client = self.namespace("client")
        self.router = self.namespace("router")
        self.join(self.client, "c0", self.CLIENT + "/24", self.router, "r0", self.ROUTER + "/24")
        self.ip(self.client, "route", "add", "default", "via", self.ROUTER)
        self.sysctl(self.router, "net.ipv4.ip_forward", 1)
        # Echo sockets for every group, as a desktop distribution allows them.
        self.sysctl(self.client, "net.ipv4.ping_group_range", "'0 2147483647'")
        addresses = {}
        for index, (role, answers) in enumerate(far_hosts):
            net = "10.77.%d" % (index + 2)
            host = self.namespace(role)
            self.join(self.router, "r%d" % (index + 1), net + ".1/24", host, "h0", net + ".2/24")
            self.ip(host, "route", "add", "default", "via", net + ".1")
            if not answers:
                self.sysctl(host, "net.ipv4.icmp_echo_ignore_all", 1)
            addresses[role] = net + ".2"
        # `ip netns exec` lays /etc/netns/<name>/hosts over /etc/hosts.
        self.hosts_folder = os.path.join(HOSTS_DIRECTORY, self.client)
        os.makedirs(self.hosts_folder, exist_ok=True)
        with open(os.path.join(self.hosts_folder, "hosts"), "w") as f:
            f.write("127.0.0.1\tlocalhost\n" + hosts_file)
        return addresses

    def pids(self):
        """Processes still running in the client namespace."""
        return run(["ip", "netns", "pids", self.client], check=False).stdout.split()

    def remove(self):
        for name in reversed(self.names):
            run(["ip", "netns", "delete", name], check=False)
        self.names = []
        if self.hosts_folder:
            shutil.rmtree(self.hosts_folder, ignore_errors=True)


class Image:
    """An RGB screenshot."""

    def __init__(self, width, height, pixels):
        self.width, self.height, self.pixels = width, height, pixels

    @staticmethod
    def from_ppm(data):
        fields = []
        at = 0
        while len(fields) < 4:
            while data[at:at + 1].isspace():
                at += 1
            if data[at:at + 1] == b"#":
                at = data.index(b"\n", at)
                continue
            end = at
            while not data[end:end + 1].isspace():
                end += 1
            fields.append(data[at:end])
            at = end
        if fields[0] != b"P6" or fields[3] != b"255":
            raise Failure("not an 8-bit PPM screenshot")
        width, height = int(fields[1]), int(fields[2])
        return Image(width, height, data[at + 1:at + 1 + 3 * width * height])

    def pixel(self, x, y):
        at = 3 * (y * self.width + x)
        return tuple(self.pixels[at:at + 3])

    def count(self, box, colours):
        """Pixels in box (left, top, right, bottom) of each of `colours`."""
        left, top, right, bottom = box
        left, top = max(left, 0), max(top, 0)
        right, bottom = min(right, self.width), min(bottom, self.height)
        wanted = {bytes(c): c for c in colours}
        counts = {c: 0 for c in colours}
        for y in range(top, bottom):
            row = self.pixels[3 * (y * self.width + left):3 * (y * self.width + right)]
            for x in range(0, len(row), 3):
                colour = wanted.get(row[x:x + 3])
                if colour is not None:
                    counts[colour] += 1
        return counts


class Desktop:
    """A virtual X server with the program on it, and the user's hands."""

    def __init__(self, workdir):
        self.workdir = workdir
        self.xvfb = None
        self.program = None
        self.display = None
        self.program_log = os.path.join(workdir, "program.log")

    # --- the X server ---

    def start_x(self, width=1024, height=768):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % (width, height),
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            preexec_fn=end_with_parent)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + 30
        while not number.endswith(b"\n"):
            if time.monotonic() > deadline or self.xvfb.poll() is not None:
                raise Failure("Xvfb did not start")
            chunk = os.read(read_end, 16)
            if not chunk:
                raise Failure("Xvfb did not report its display")
            number += chunk
        os.close(read_end)
        self.display = ":" + number.decode().strip()

    def environment(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def xdo(self, *arguments, check=True, timeout=20):
        return run(["xdotool"] + [str(a) for a in arguments], check=check,
                   env=self.environment(), timeout=timeout)

    # --- the program ---

    def start_program(self, binary, namespace, map_path, cwd):
        runtime = os.path.join(self.workdir, "runtime")
        config = os.path.join(self.workdir, "config")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        os.makedirs(config, exist_ok=True)
        env = self.environment()
        env.update({"QT_QPA_PLATFORM": "xcb", "XDG_RUNTIME_DIR": runtime,
                    "XDG_CONFIG_HOME": config, "HOME": self.workdir,
                    "QT_ACCESSIBILITY": "0", "NO_AT_BRIDGE": "1",
                    "LSAN_OPTIONS": "suppressions=" + LEAK_SUPPRESSIONS})
        with open(self.program_log, "a") as log:
            self.program = subprocess.Popen(
                ["ip", "netns", "exec", namespace, binary, map_path], cwd=cwd, env=env,
                stdout=log, stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL,
                preexec_fn=end_with_parent)

    def stop(self):
        if self.program is not None and self.program.poll() is None:
            self.program.kill()
            self.program.wait()
        if self.xvfb is not None and self.xvfb.poll() is None:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()

    # --- windows ---

    def visible_windows(self):
        """(id, name) of every mapped window of the program."""
        result = self.xdo("search", "--onlyvisible", "--classname", "tarnmap", check=False)
        return [(window, self.name(window)) for window in result.stdout.split()]

    def window(self, pattern, timeout=20):
        """The visible window whose whole name matches `pattern`."""
        def find():
            self.check_alive()
            for window, name in self.visible_windows():
                if re.fullmatch(pattern, name):
                    return window
            return None
        return wait_for(find, timeout, "a window named /%s/" % pattern)

    def window_gone(self, window, timeout=20):
        wait_for(lambda: window not in dict(self.visible_windows()), timeout,
                 "window %s to close" % window)

    def override_redirect(self, window):
        """Menus (and nothing else of the program) are override-redirect windows."""
        info = run(["xwininfo", "-id", window], check=False, env=self.environment()).stdout
        return "Override Redirect State: yes" in info

    def popup_menu(self, timeout=10):
        """The open popup menu."""
        def find():
            self.check_alive()
            for window, _ in self.visible_windows():
                if self.override_redirect(window):
                    return window
            return None
        return wait_for(find, timeout, "a popup menu")

    def geometry(self, window):
        """(x, y, width, height) of a window on the screen."""
        out = self.xdo("getwindowgeometry", "--shell", window).stdout
        values = dict(line.split("=", 1) for line in out.split())
        return (int(values["X"]), int(values["Y"]), int(values["WIDTH"]), int(values["HEIGHT"]))

    def name(self, window):
        return self.xdo("getwindowname", window, check=False).stdout.rstrip("\n")

    def focus(self, window):
        """Without a window manager, X input focus goes where it is set; Qt then treats the
        window as active, so its keyboard shortcuts and mnemonics work."""
        self.xdo("windowfocus", "--sync", window)

    def keys(self, window, *keys):
        self.focus(window)
        self.xdo("key", "--clearmodifiers", "--delay", 60, *keys)

    def type_text(self, window, text):
        self.focus(window)
        self.xdo("type", "--clearmodifiers", "--delay", 20, text)

    def click(self, x, y, button=1):
        self.xdo("mousemove", "--sync", x, y)
        self.xdo("click", button)

    def check_alive(self):
        if self.program is not None and self.program.poll() is not None:
            raise Failure("the program ended (status %d); its output:\n%s"
                          % (self.program.returncode, self.program_output()))

    def program_output(self):
        try:
            with open(self.program_log, errors="replace") as f:
                return f.read()[-4000:]
        except OSError:
            return ""

    # --- pictures ---

    def screenshot(self, window="root"):
        data = subprocess.run(["import", "-window", window, "-depth", "8", "ppm:-"],
                              capture_output=True, env=self.environment(), timeout=30)
        if data.returncode != 0:
            raise Failure("import failed: %s" % data.stderr.decode(errors="replace"))
        return Image.from_ppm(data.stdout)

    def save_png(self, window, path):
        subprocess.run(["import", "-window", window, path], check=True, env=self.environment(),
                       timeout=30, capture_output=True)


def temporary_directory():
    """A fresh directory "tarnmap-e2e-<pid>-..."; those of runs that were killed go first."""
    base = tempfile.gettempdir()
    for name in os.listdir(base):
        match = re.match(r"tarnmap-e2e-(\d+)-", name)
        if match and not os.path.exists("/proc/" + match.group(1)):
            shutil.rmtree(os.path.join(base, name), ignore_errors=True)
    return tempfile.mkdtemp(prefix="tarnmap-e2e-%d-" % os.getpid())


def install_build(build_dir, prefix):
    """`cmake --install` into `prefix`; the installed program's path."""
    run(["cmake", "--install", build_dir, "--prefix", prefix])
    binary = os.path.join(prefix, "bin", "tarnmap")
    if not os.access(binary, os.X_OK):
        raise Failure("the install put no program at " + binary)
    return binary


def write_map(path, title, hosts, lines, options, host_sections=None):
    """A map database (`hosts`: name, address, info1, info2, col, row, flags, kind) and its
    settings file (`options` for [OPTS]), with CR LF line ends as the program writes them."""
    records = ["T%s 126/12/06 09:00" % path, "B" + title, "V1"]
    for name, address, info1, info2, col, row, flags, kind in hosts:
        records.append("H%s,%s,%s,%s,%d,%d,%d,1,%d" % (name, address, info1, info2, col, row,
                                                       flags, kind))
    for x1, y1, x2, y2 in lines:
        records.append("N12,%d,%d,%d,%d" % (x1, y1, x2, y2))
    with open(path, "w", newline="") as f:
        f.write("\r\n".join(records) + "\r\n")
    settings = ["[OPTS]"] + ["%s=%s" % item for item in options.items()]
    for section, keys in (host_sections or {}).items():
        settings.append("[%s]" % section)
        settings += ["%s=%s" % item for item in keys.items()]
    with open(os.path.splitext(path)[0] + ".INI", "w", newline="") as f:
        f.write("\r\n".join(settings) + "\r\n")


def read_hosts(path):
    """The H records of a map database as tuples of their fields."""
    with open(path, newline="") as f:
        return [tuple(line.rstrip("\r\n")[1:].split(",")) for line in f if line.startswith("H")]
