"""A launcher run of the real programs for the tests: a fresh temporary folder
with copies of the programs, which note what they do in its timeline file;
ports of the run's own; start pauses shortened through the test build of the
library; and, at the end, nothing of the run left running. With DRUX_EMULATOR
set (the emulator's command, its words separated by "|") the programs are the
Windows ones, run through it."""
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time

PROGRAMS = ["drux-launcher", "KyrCLient.exe", "drux-game", "patcher.dll"]
EMULATOR = [word for word in os.environ.get("DRUX_EMULATOR", "").split("|") if word]
EXE = ".exe" if EMULATOR else ""
SHORT_START = "processStartPauseMs=100,processExitWaitMs=3000"


def read(path):
    """The file's text; empty when there is no such file."""
    try:
        with open(path) as file:
            return file.read()
    except FileNotFoundError:
        return ""


def eventually(condition, seconds=20):
    deadline = time.monotonic() + seconds
    while not condition():
        if time.monotonic() >= deadline:
            return False
        time.sleep(0.02)
    return True


def listen_on(port):
    """A socket listening on the loopback port, bound as the library binds; None when the port is taken."""
    probe = socket.socket()
    probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        probe.bind(("127.0.0.1", port))
        probe.listen(1)
        return probe
    except OSError:
        probe.close()
        return None


def program_running(pid):
    """Whether the process runs one of the programs (a zombie has no executable any more), so that
    a recycled pid is never taken for one of the run's."""
    try:
        return os.path.basename(os.readlink("/proc/%d/exe" % pid)) in PROGRAMS
    except OSError:
        return False


class LauncherRun:
    """Used as a context manager: leaving it kills whatever the run left running and removes the
    folder (kept when DRUX_KEEP_RUNS is set)."""

    def __init__(self, figures=SHORT_START):
        self.dir = tempfile.mkdtemp(prefix="drux-apps-")
        for program in PROGRAMS:
            shutil.copy2(os.path.join(os.environ["DRUX_APPS_DIR"], self.executable(program)), self.dir)
        if EMULATOR:  # Windows loads the test build of the library from beside the programs
            shutil.copy2(os.path.join(os.environ["DRUX_TEST_SEAMS_DIR"], "DruxLauncher.dll"), self.dir)
        # Launcher, AIR and game ports and a spare one, below the kernel's ephemeral ports (32768
        # and up), so that no outgoing connection takes one before the launcher listens.
        self.ports = []
        while len(self.ports) < 4:
            port = random.randrange(20000, 32000)
            probe = None if port in self.ports else listen_on(port)
            if probe:
                self.ports.append(port)
                probe.close()
        self.launcher = None
        self.links = []
        self.env = dict(os.environ, DRUX_TIMELINE=self.path("timeline.tsv"), DRUX_AIR_SCRIPT=self.path("run.air"),
                        DRUX_FIGURES=figures, LD_LIBRARY_PATH=os.environ["DRUX_TEST_SEAMS_DIR"],
                        DRUX_PATCHER_ROOT=self.path("versions"))
        for name in ("ASAN_OPTIONS", "TSAN_OPTIONS", "UBSAN_OPTIONS"):
            self.env[name] = os.environ.get(name, "") + ":log_path=" + self.file("sanitizer")

    def __enter__(self):
        return self

    def unc(self):
        """The run's folder as a network share, \\\\drux-tests\\<folder name>, under Wine (which maps
        \\\\server\\share to $WINEPREFIX/dosdevices/unc/server/share); removed with the run."""
        share = os.path.basename(self.dir)
        link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", "unc", "drux-tests", share)
        if not os.path.islink(link):
            os.makedirs(os.path.dirname(link), exist_ok=True)
            os.symlink(self.dir, link)
            self.links.append(link)
        return "\\\\drux-tests\\" + share

    def __exit__(self, *_):
        for link in self.links:
            os.unlink(link)
        for pid in self.running():
            os.kill(pid, signal.SIGKILL)
        if self.launcher and self.launcher.poll() is None:
            self.launcher.kill()
            self.launcher.wait()
        if not os.environ.get("DRUX_KEEP_RUNS"):
            shutil.rmtree(self.dir, True)

    def file(self, name):
        return os.path.join(self.dir, name)

    def path(self, name):
        """A file of the run as the programs name it: Windows programs on the Unix root's drive."""
        return "Z:" + self.file(name).replace("/", "\\") if EMULATOR else self.file(name)

    @staticmethod
    def executable(program):
        return program + EXE if program in ("drux-launcher", "drux-game") else program

    def expand(self, text):
        """The text with "{ports}" (the launcher's three port options), "{0}".."{3}", "{dir}", "{versions}"
        (the patch library's folder of versions as the programs see it, with a separator at the end),
        "{exe}" (the programs' suffix), "{library}" (the library's file name) and, under Wine, "{unc}" (the
        run's folder as a network share) filled in."""
        text = text.replace("{ports}", "--launcher-port {0} --air-port {1} --game-port {2}")
        if "{unc}" in text:
            text = text.replace("{unc}", self.unc())
        for i, port in enumerate(self.ports):
            text = text.replace("{%d}" % i, str(port))
        versions = self.path("versions") + ("\\" if EMULATOR else "/")
        library = "DruxLauncher.dll" if EMULATOR else "libDruxLauncher.so.1"
        return text.replace("{dir}", self.dir).replace("{versions}", versions).replace("{exe}", EXE).replace(
            "{library}", library)

    def set_script(self, text):
        with open(self.file("run.air"), "w") as script:
            script.write(text)

    def _spawn(self, program, args):
        with open(self.file(program + ".out"), "w") as out:
            return subprocess.Popen(EMULATOR + [self.file(self.executable(program))] + args, cwd=self.dir, env=self.env,
                                    stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT)

    def start(self, options=(), ports=True):
        """Starts the launcher with the run's ports (ports=False: with none of them, for --ports auto)."""
        self.launcher = self._spawn("drux-launcher", (self.expand("{ports}").split() if ports else []) + list(options))

    def wait_for_exit(self, seconds=30):
        """The launcher's exit status (128 + signal when killed), or None when it has not ended in time."""
        try:
            status = self.launcher.wait(seconds)
        except subprocess.TimeoutExpired:
            return None
        return status if status >= 0 else 128 - status

    def run_program(self, program, arguments):
        """Runs a program to its end: its exit status (None when it did not end in time) and output."""
        process = self._spawn(program, self.expand(arguments).split())
        try:
            status = process.wait(20)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
            status = None
        return status, read(self.file(program + ".out"))

    def notes(self, who):
        """The texts that one program noted, in the order they were written."""
        return [parts[2] for parts in (line.split("\t", 2) for line in read(self.file("timeline.tsv")).split("\n"))
                if len(parts) == 3 and parts[1] == who]

    def note_times(self, who, text):
        """The times (ms since the epoch) of the notes of one program that contain the text, in order."""
        return [int(parts[0]) for parts in (line.split("\t", 2) for line in read(self.file("timeline.tsv")).split("\n"))
                if len(parts) == 3 and parts[1] == who and text in parts[2]]

    def noted(self, who, text):
        return any(text in note for note in self.notes(who))

    def pids(self, who):
        return [int(m.group(1)) for m in (re.match(r"pid (\d+)", note) for note in self.notes(who)) if m]

    def running(self):
        """The noted programs that still run, and the launcher until it has been waited for. (Windows
        programs note their Windows pids, which name no process here.)"""
        found = [pid for who in ("launcher", "air-client", "game") for pid in self.pids(who)
                 if not EMULATOR and program_running(pid)]
        if self.launcher and self.launcher.returncode is None and program_running(self.launcher.pid):
            found.append(self.launcher.pid)
        return found

    def sanitizer_reports(self):
        return "".join(read(self.file(name)) for name in os.listdir(self.dir) if name.startswith("sanitizer"))

    def report(self):
        """The timeline and the launcher's output, to show with a failure."""
        return "".join("\n--- %s\n%s" % (name, read(self.file(name))) for name in ("timeline.tsv", "drux-launcher.out"))
