"""A short real launcher run captured on the loopback interface: every message
that the AIR client and the game note in the timeline appears decoded, with
its type name and payload, in the same order, and every REPLY is matched to
the message it answers."""
import os
import random
import re
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import unittest

from wire import PREFIX, tshark_fields

SCRIPT = """create game --mode capture
wait GAMECLIENT_LAUNCHED 20
wait GAMECLIENT_CONNECTED_TO_SERVER 20
chat hello, capture
wait CHATMESSAGE_FROM_GAME 10 echo: hello, capture
enumerate latest 2
wait GAMECLIENT_ENUMERATE_LATEST_VERSIONS 10 "2.0.0"
chat /quit
wait GAMECLIENT_STOPPED 20
close
"""
PROGRAMS = ["drux-launcher", "KyrCLient.exe", "drux-game", "patcher.dll"]
NOTE = re.compile(r'^(->|<-) launcher  ([A-Z_]+)(?: "(.*)")?(?: \(preload channel\))?$')


def free_ports(count):
    """Ports below the kernel's ephemeral range that nothing listens on."""
    ports = []
    while len(ports) < count:
        port = random.randrange(20000, 32000)
        with socket.socket() as probe:
            try:
                probe.bind(("127.0.0.1", port))
            except OSError:
                continue
        if port not in ports:
            ports.append(port)
    return ports


class LiveCaptureTest(unittest.TestCase):
    def setUp(self):
        self.work = tempfile.mkdtemp(prefix="drux-capture-")
        self.addCleanup(shutil.rmtree, self.work, True)
        for program in PROGRAMS:
            shutil.copy2(os.path.join(os.environ["DRUX_APPS_DIR"], program), self.work)
        self.ports = free_ports(3)
        self.timeline = os.path.join(self.work, "timeline.tsv")

    def start_capture(self):
        capture = os.path.join(self.work, "run.pcapng")
        dumpcap = subprocess.Popen(["dumpcap", "-i", "lo", "-f", " or ".join("tcp port %d" % p for p in self.ports),
                                    "-w", capture], stderr=subprocess.PIPE, text=True)
        self.addCleanup(lambda: dumpcap.poll() is None and (dumpcap.kill(), dumpcap.wait()))
        self.addCleanup(dumpcap.stderr.close)
        said = ""
        for line in dumpcap.stderr:  # "File: ..." once it captures; an error and an exit otherwise
            said += line
            if line.startswith("File:"):
                return dumpcap, capture
        dumpcap.wait()
        self.skipTest("cannot capture on the loopback interface here: " + said.strip())

    def stop_capture(self, dumpcap, capture):
        """Knocks on the launcher port (nobody listens there any more) and waits until the capture
        file holds the knock, so that everything the run sent is in the file before it; then stops."""
        with socket.socket() as knock:
            knock.connect_ex(("127.0.0.1", self.ports[0]))
        seen = "tcp.dstport == %d && tcp.flags.syn == 1 && tcp.flags.ack == 0" % self.ports[0]
        deadline = time.monotonic() + 20
        while not subprocess.run(["tshark", "-n", "-r", capture, "-Y", seen], capture_output=True,
                                 text=True).stdout.strip():
            self.assertLess(time.monotonic(), deadline, "the capture never showed the knock")
            time.sleep(0.2)
        dumpcap.send_signal(signal.SIGINT)
        dumpcap.wait(timeout=30)

    def notes(self):
        if not os.path.exists(self.timeline):
            return []
        with open(self.timeline) as lines:
            return [line.rstrip("\n").split("\t", 2) for line in lines]

    def end_the_run(self):
        """Kills whatever program of the run still runs (each noted its pid)."""
        for _, _, text in self.notes():
            try:
                pid = int(text.split()[1].rstrip(":")) if text.startswith("pid ") else 0
                if pid and os.path.basename(os.readlink("/proc/%d/exe" % pid)) in PROGRAMS:
                    os.kill(pid, signal.SIGKILL)
            except OSError:
                pass

    def test_every_noted_message_is_decoded_with_its_type_and_payload(self):
        dumpcap, capture = self.start_capture()
        with open(os.path.join(self.work, "run.air"), "w") as script:
            script.write(SCRIPT)
        # Only the test build of the library reads DRUX_FIGURES.
        seams = os.path.join(os.environ["DRUX_BUILD_DIR"], "tests", "test-seams")
        environment = dict(os.environ, DRUX_TIMELINE=self.timeline, DRUX_AIR_SCRIPT=os.path.join(self.work, "run.air"),
                           DRUX_FIGURES="processStartPauseMs=100,processExitWaitMs=3000",
                           LD_LIBRARY_PATH=os.pathsep.join(filter(None, [seams, os.environ.get("LD_LIBRARY_PATH")])),
                           DRUX_PATCHER_ROOT=os.path.join(self.work, "versions"))
        self.addCleanup(self.end_the_run)
        launcher = subprocess.run([os.path.join(self.work, "drux-launcher")] + [
            a for option, port in zip(["--launcher-port", "--air-port", "--game-port"], self.ports)
            for a in (option, str(port))], cwd=self.work, env=environment, capture_output=True, text=True, timeout=90)
        self.assertEqual(launcher.returncode, 0, launcher.stdout + launcher.stderr)
        self.stop_capture(dumpcap, capture)

        # What each program noted sending (->) and receiving (<-), and what was decoded, per port and
        # direction ("to" the launcher's port or "from" it).
        port_of = {"air-client": self.ports[1], "game": self.ports[2]}
        noted, decoded = {}, {}
        for _, who, text in self.notes():
            match = NOTE.match(text)
            if who in port_of and match and not text.endswith("(not sent)"):
                direction, name, payload = match.groups()
                noted.setdefault((port_of[who], "to" if direction == "->" else "from"), []).append(
                    (PREFIX + name, payload))
        self.assertGreaterEqual(len(noted.get((self.ports[1], "to"), [])), 5, self.notes())
        replies = unmatched = 0
        frames = tshark_fields(capture, ["tcp.srcport", "tcp.dstport", "drux.type_name", "drux.payload_length",
                                         "drux.payload", "drux.reply_to"])
        for fields in frames.values():
            payloads = iter(fields["drux.payload"])
            src, dst = int(fields["tcp.srcport"][0]), int(fields["tcp.dstport"][0])
            key = (dst, "to") if dst in self.ports else (src, "from")
            for name, length in zip(fields["drux.type_name"], fields["drux.payload_length"]):
                payload = next(payloads) if int(length) > 0 else None
                if name == PREFIX + "REPLY":
                    replies += 1
                elif name != PREFIX + "HEARTBEAT":
                    decoded.setdefault(key, []).append((name, payload))
            unmatched += fields["drux.type_name"].count(PREFIX + "REPLY") - len(fields["drux.reply_to"])
        self.assertGreater(replies, 0)
        self.assertEqual(unmatched, 0)

        # Each program's notes, in order, within what was decoded on its connection (a message
        # that arrives while a program ends, such as the CLOSE relayed to a game that has
        # stopped, can go unnoted).
        for key, messages in noted.items():
            with self.subTest(port=key[0], direction=key[1]):
                remaining = iter(decoded.get(key, []))
                self.assertEqual([m for m in messages if m not in remaining], [], decoded.get(key))


if __name__ == "__main__":
    unittest.main()
