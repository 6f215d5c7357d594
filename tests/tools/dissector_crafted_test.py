"""The dissector over a written capture of crafted bytes: several messages in one segment, one message
across three segments, REPLYs matched to what they answer (on both sides, after Wireshark's second pass),
what follows a malformed header, the heuristic on other ports, every type by the library's name."""
import os
import re
import tempfile
import unittest

from wire import PREFIX, Pcap, message, tshark_fields

LAUNCHER, AIR, GAME = 47310, 47311, 47312
FIELDS = ["drux.type_name", "drux.payload", "drux.reply_to", "drux.reply_to_type", "drux.reply_in",
          "_ws.expert.message"]


class CraftedCaptureTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        pcap = Pcap()
        frames = {}
        # AIR client <-> AIR port.
        pcap.connect(50000, AIR)
        frames["two in one"] = pcap.send(50000, AIR, message(0, "--mode demo") + message(4))
        frames["two replies"] = pcap.send(AIR, 50000, message(5) + message(5))
        chat = message(11, "hello across three segments")
        frames["split 1"] = pcap.send(50000, AIR, chat[:10])
        frames["split 2"] = pcap.send(50000, AIR, chat[10:25])
        frames["split end"] = pcap.send(50000, AIR, chat[25:] + message(3) + message(12, "tail")[:5])
        frames["tail end"] = pcap.send(50000, AIR, message(12, "tail")[5:])
        frames["three replies"] = pcap.send(AIR, 50000, message(5) * 3)
        # Game <-> game port: two malformed headers, each in a segment of its own, and what follows
        # each (the shared vectors hold the other malformed headers).
        pcap.connect(50001, GAME)
        frames["reply without request"] = pcap.send(GAME, 50001, message(5))
        frames["negative length"] = pcap.send(50001, GAME, message(1, length=-4))
        frames["sound after"] = pcap.send(50001, GAME, message(12, "still read"))
        frames["oversized"] = pcap.send(50001, GAME, message(11, "big", length=16 * 1024 * 1024 + 1))
        frames["after oversized"] = pcap.send(50001, GAME, message(10))
        # Other ports: found by the heuristic, or left alone.
        pcap.connect(50002, 40000)
        frames["heuristic"] = pcap.send(50002, 40000, message(8) + message(36, "all"))
        pcap.connect(50003, 40001)
        frames["not ours"] = pcap.send(50003, 40001, b"just some text, not a header at all\n")
        # Every real type, in one segment.
        pcap.connect(50004, LAUNCHER)
        frames["every type"] = pcap.send(50004, LAUNCHER, b"".join(message(t) for t in range(38)))
        cls.frame = frames
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "crafted.pcap")
            pcap.write(path)
            # Two passes, as Wireshark itself revisits frames after the first.
            cls.decoded = tshark_fields(path, FIELDS, extra=["-2"])

    def field(self, frame, name):
        return self.decoded.get(self.frame[frame], {}).get(name, [])

    def test_messages_are_decoded_and_reassembled_and_malformed_headers_flagged(self):
        cases = [  # frame, type names without the prefix (None: not checked), payloads, the expert error
            ("two in one", ["GAMECLIENT_CREATE", "HEARTBEAT"], ["--mode demo"], None),
            ("split 1", [], [], None),
            ("split 2", [], [], None),
            ("split end", ["CHATMESSAGE_TO_GAME", "CLOSE"], ["hello across three segments"], None),
            ("tail end", ["CHATMESSAGE_FROM_GAME"], ["tail"], None),
            ("sound after", ["CHATMESSAGE_FROM_GAME"], ["still read"], None),
            ("heuristic", ["GAMECLIENT_LAUNCHED", "GAMECLIENT_ENUMERATE_LATEST_VERSIONS"], ["all"], None),
            ("not ours", [], [], None),
            ("after oversized", [], [], None),
            ("negative length", None, [], "negative payload length -4"),
            ("oversized", None, [], "payload length 16777217 beyond the 16 MiB limit"),
        ]
        for frame, names, payloads, problem in cases:
            with self.subTest(frame=frame):
                if names is not None:
                    self.assertEqual(self.field(frame, "drux.type_name"), [PREFIX + n for n in names])
                self.assertEqual(self.field(frame, "drux.payload"), payloads)
                problems = self.field(frame, "_ws.expert.message")
                self.assertEqual(len(problems), 0 if problem is None else 1, problems)
                if problem:
                    self.assertIn(problem, problems[0])

    def test_every_type_has_the_library_name(self):
        with open(os.environ["DRUX_ENUM_NAMES"]) as source:
            table = re.search(r"kMessageTypeNames\[\] = \{(.*?)\};", source.read(), re.S).group(1)
        names = re.findall(r'"([A-Z_]+)"', table)
        self.assertEqual(len(names), 38)
        self.assertEqual(self.field("every type", "drux.type_name"), names)

    def test_each_reply_answers_the_oldest_unanswered_message_the_other_way(self):
        f = self.frame
        cases = [  # frame of REPLYs, frames answered, types answered
            ("two replies", [f["two in one"]] * 2, ["GAMECLIENT_CREATE", "HEARTBEAT"]),
            ("three replies", [f["split end"]] * 2 + [f["tail end"]],
             ["CHATMESSAGE_TO_GAME", "CLOSE", "CHATMESSAGE_FROM_GAME"]),
        ]
        for frame, answered, types in cases:
            with self.subTest(frame=frame):
                self.assertEqual(self.field(frame, "drux.reply_to"), [str(n) for n in answered])
                self.assertEqual(self.field(frame, "drux.reply_to_type"), [PREFIX + t for t in types])
        # The second pass shows the match on the answered side too.
        self.assertEqual(self.field("split end", "drux.reply_in"), [str(f["three replies"])] * 2)
        self.assertEqual(self.field("reply without request", "drux.reply_to"), [])
        self.assertEqual(self.field("reply without request", "_ws.expert.message"),
                         ["REPLY to a message outside the capture"])


if __name__ == "__main__":
    unittest.main()
