"""A short real launcher run captured on the loopback interface: every message that the AIR client and
the game note in the timeline appears decoded, with its type name and payload, in the same order, and
every REPLY is matched to the message it answers."""
import re
import signal
import socket
import subprocess
import unittest

from launcher_run import LauncherRun, eventually
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
NOTE = re.compile(r'^(->|<-) launcher  ([A-Z_]+)(?: "(.*)")?(?: \(preload channel\))?$')


class LiveCaptureTest(unittest.TestCase):
    def start_capture(self, run):
        capture = run.file("run.pcapng")
        dumpcap = subprocess.Popen(["dumpcap", "-i", "lo", "-f", " or ".join("tcp port %d" % p for p in run.ports[:3]),
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

    def stop_capture(self, dumpcap, capture, port):
        """Knocks on the launcher port (nobody listens there any more) and waits until the capture
        file holds the knock, so that everything the run sent is in the file before it; then stops."""
        with socket.socket() as knock:
            knock.connect_ex(("127.0.0.1", port))
        knock = ["tshark", "-n", "-r", capture, "-Y",
                 "tcp.dstport == %d && tcp.flags.syn == 1 && tcp.flags.ack == 0" % port]
        self.assertTrue(eventually(lambda: subprocess.run(knock, capture_output=True, text=True).stdout.strip()),
                        "the capture never showed the knock")
        dumpcap.send_signal(signal.SIGINT)
        dumpcap.wait(timeout=30)

    def test_every_noted_message_is_decoded_with_its_type_and_payload(self):
        with LauncherRun() as run:
            dumpcap, capture = self.start_capture(run)
            run.set_script(SCRIPT)
            run.start()
            self.assertEqual(run.wait_for_exit(90), 0, run.report())
            self.assertEqual(run.sanitizer_reports(), "")
            self.stop_capture(dumpcap, capture, run.ports[0])
            # What each program noted sending (->) and receiving (<-), per port and direction ("to"
            # the launcher's port or "from" it).
            noted = {}
            for who, port in (("air-client", run.ports[1]), ("game", run.ports[2])):
                for direction, name, payload in (m.groups() for m in map(NOTE.match, run.notes(who)) if m):
                    noted.setdefault((port, "to" if direction == "->" else "from"), []).append((PREFIX + name, payload))
            self.assertGreaterEqual(len(noted.get((run.ports[1], "to"), [])), 5, run.report())
            frames = tshark_fields(capture, ["tcp.srcport", "tcp.dstport", "drux.type_name", "drux.payload_length",
                                             "drux.payload", "drux.reply_to"])
        decoded = {}
        replies = matched = 0
        for fields in frames.values():
            payloads = iter(fields["drux.payload"])
            src, dst = int(fields["tcp.srcport"][0]), int(fields["tcp.dstport"][0])
            key = (dst, "to") if dst in run.ports else (src, "from")
            for name, length in zip(fields["drux.type_name"], fields["drux.payload_length"]):
                payload = next(payloads) if int(length) > 0 else None
                if name not in (PREFIX + "REPLY", PREFIX + "HEARTBEAT"):
                    decoded.setdefault(key, []).append((name, payload))
            replies += fields["drux.type_name"].count(PREFIX + "REPLY")
            matched += len(fields["drux.reply_to"])
        self.assertGreater(replies, 0)
        self.assertEqual(matched, replies)

        # Each program's notes, in order, within what was decoded on its connection (a message
        # that arrives while a program ends, such as the CLOSE relayed to a game that has
        # stopped, can go unnoted).
        for key, messages in noted.items():
            with self.subTest(port=key[0], direction=key[1]):
                remaining = iter(decoded.get(key, []))
                self.assertEqual([m for m in messages if m not in remaining], [], decoded.get(key))


if __name__ == "__main__":
    unittest.main()
