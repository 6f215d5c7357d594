"""The dissector over the shared wire vectors (tests/vectors/wire.json, also read by the C++ and
JavaScript tests), each case on a connection of its own, each chunk a TCP segment: sound streams decode
into the expected messages; malformed headers are flagged with the problems the vectors name."""
import json
import os
import tempfile
import unittest

from wire import PREFIX, Pcap, tshark_fields

VECTORS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "vectors", "wire.json")
OUTSIDE = "REPLY to a message outside the capture"  # a note: these streams start mid-connection
FIELDS = ["drux.type_name", "drux.payload", "_ws.expert.message"]


class VectorCaptureTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(VECTORS) as file:
            cls.cases = json.load(file)["cases"]
        pcap = Pcap()
        cls.frames = []
        for number, case in enumerate(cls.cases):
            client = 51000 + number
            pcap.connect(client, 47311)
            cls.frames.append([pcap.send(client, 47311, bytes.fromhex(chunk)) for chunk in case["chunks"]])
        with tempfile.TemporaryDirectory() as work:
            path = os.path.join(work, "vectors.pcap")
            pcap.write(path)
            cls.decoded = tshark_fields(path, FIELDS, extra=["-2"])

    def seen(self, number, field):
        return [value for frame in self.frames[number] for value in self.decoded.get(frame, {}).get(field, [])]

    def test_every_vector(self):
        for number, case in enumerate(self.cases):
            with self.subTest(case=case["name"]):
                problems = [p for p in self.seen(number, "_ws.expert.message") if p != OUTSIDE]
                self.assertEqual(len(problems), len(case["flagged"]), problems)
                for problem, expected in zip(problems, case["flagged"]):
                    self.assertIn(expected, problem)
                if not case["flagged"]:
                    self.assertEqual(self.seen(number, "drux.type_name"), [PREFIX + m["name"] for m in case["messages"]])
                # Every payload a receiver gets, the dissector shows (also of a flagged header).
                payloads = [m["payload"] for m in case["messages"] if m["payload"] is not None]
                self.assertEqual(self.seen(number, "drux.payload"), payloads)


if __name__ == "__main__":
    unittest.main()
