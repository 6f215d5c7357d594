"""The picture of a known timeline: well-formed XML, one lane per program, one
arrow per message in time order with its type name, the patch library's calls
and the notes on their lanes."""
import os
import subprocess
import sys
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

SVG = "{http://www.w3.org/2000/svg}"
# Written out of time order on purpose (several processes append to one file).
TIMELINE = [
    (1000, "launcher", "pid 41: ports launcher 47310, AIR 47311, game 47312; AIR client x; game y"),
    (1200, "air-client", "pid 42 started, script run.air"),
    (1300, "air-client", "-> launcher  GAMECLIENT_CREATE \"--mode <demo> & more\""),
    (2500, "game", "-> launcher  GAMECLIENT_LAUNCHED"),
    (2400, "game", "pid 43 started from /tmp/drux-game, ordinary start, game port 47312"),
    (2600, "air-client", "<- launcher  GAMECLIENT_LAUNCHED"),
    (2700, "game", "-> launcher  GAMECLIENT_UPDATE_PLAYER_CONNECTION \"x\" (not sent)"),
    (2800, "game", "<- launcher  credentials (AIR port): game port 47312, launcher /l, AIR /a, args \"u=1\""),
    (2900, "game", "-> launcher  GAMECLIENT_INITIAL_PRELOAD_COMPLETE (preload channel)"),
    (3000, "air-client", "-> launcher  GAMECLIENT_INSTALL_VERSION \"1.1.0\""),
    (3100, "game", "<- launcher  CHATMESSAGE_TO_GAME \"bell \x07 here\""),
    (3200, "launcher", "SIGINT: closing the run"),
    (3201, "launcher", "-> AIR client  CLOSE"),
    (3300, "game", "exits with status 0"),
]
MESSAGES = [  # (type, from, to) in time order
    ("GAMECLIENT_CREATE", "air-client", "launcher"),
    ("GAMECLIENT_LAUNCHED", "game", "launcher"),
    ("GAMECLIENT_LAUNCHED", "launcher", "air-client"),
    ("GAMECLIENT_UPDATE_PRELOADED_GAME_WITH_CREDENTIALS", "launcher", "game"),
    ("GAMECLIENT_INITIAL_PRELOAD_COMPLETE", "game", "launcher"),
    ("GAMECLIENT_INSTALL_VERSION", "air-client", "launcher"),
    ("CHATMESSAGE_TO_GAME", "launcher", "game"),
    ("CLOSE", "launcher", "air-client"),
]
NOTES = [("launcher", "pid 41"), ("air-client", "pid 42"), ("game", "pid 43"),
         ("game", "GAMECLIENT_UPDATE_PLAYER_CONNECTION \"x\" (not sent)"), ("launcher", "SIGINT"),
         ("game", "exits with status 0")]


class TimelinePictureTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with tempfile.TemporaryDirectory() as work:
            timeline, picture = os.path.join(work, "timeline.tsv"), os.path.join(work, "run.svg")
            with open(timeline, "w") as out:
                out.writelines("%d\t%s\t%s\n" % line for line in TIMELINE)
                out.write("a line that is not a note\n")
            subprocess.run([sys.executable, os.environ["DRUX_TIMELINE_SVG"], timeline, picture], check=True)
            cls.root = ElementTree.parse(picture).getroot()  # raises unless well-formed

    def groups(self, kind):
        return [g for g in self.root.iter(SVG + "g") if g.get("class") == kind]

    def test_one_lane_per_program_in_order(self):
        lanes = [(g.get("data-lane"), g.find(SVG + "text").text) for g in self.groups("lane")]
        self.assertEqual(lanes, [("launcher", "launcher"), ("air-client", "AIR client"), ("game", "game"),
                                 ("patcher", "patch library")])

    def test_one_arrow_per_message_in_time_order_between_the_right_lanes(self):
        arrows = self.groups("message")
        self.assertEqual([(g.get("data-type"), g.get("data-from"), g.get("data-to")) for g in arrows],
                         [("VANTRELMESSAGETYPE_" + t, a, b) for t, a, b in MESSAGES])
        self.assertEqual(arrows[0].find(SVG + "text").text, 'GAMECLIENT_CREATE  "--mode <demo> & more"  (0.300 s)')
        # Rows go down the page in the same order.
        heights = [float(g.find(SVG + "line").get("y1")) for g in arrows]
        self.assertEqual(heights, sorted(heights))
        self.assertEqual(len(set(heights)), len(heights))

    def test_patch_requests_reach_the_patch_library_and_notes_sit_on_their_lanes(self):
        calls = [(g.get("data-type"), g.get("data-from"), g.get("data-to")) for g in self.groups("call")]
        self.assertEqual(calls, [("VANTRELMESSAGETYPE_GAMECLIENT_INSTALL_VERSION", "launcher", "patcher")])
        notes = [(g.get("data-lane"), g.find(SVG + "title").text) for g in self.groups("note")]
        self.assertEqual(len(notes), len(NOTES))
        for (lane, text), (expected_lane, expected_text) in zip(notes, NOTES):
            self.assertEqual(lane, expected_lane)
            self.assertIn(expected_text, text)


if __name__ == "__main__":
    unittest.main()
