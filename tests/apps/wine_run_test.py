"""A whole launcher run of the Windows programs under Wine: the launcher starts
the AIR client, which asks for the game; chat goes both ways; the game stops;
a version is listed, installed through the patch library and its game started
and stopped; the AIR client closes and the exit callback ends the run."""
import os
import unittest

from launcher_run import LauncherRun

SCRIPT = """create game first second
wait LAUNCHED 30
wait CONNECTED_TO_SERVER 30
chat hello game
wait CHATMESSAGE_FROM_GAME 20 echo: hello game
chat /quit
wait STOPPED 30
enumerate latest
wait ENUMERATE_LATEST_VERSIONS 20 ["2.0.0","1.1.0","1.0.0"]
install 1.1.0
install progress
wait INSTALL_PROGRESS 20 "state":"complete"
enumerate installed
wait ENUMERATE_INSTALLED_VERSIONS 20 ["1.1.0"]
create version 1.1.0 with args
wait CONNECTED_TO_SERVER 30
chat /quit
wait STOPPED 30
close
"""


class WineRunTest(unittest.TestCase):
    def test_the_whole_run_passes_and_ends_through_the_exit_callback(self):
        with LauncherRun() as run:
            run.set_script(SCRIPT)
            run.start()
            self.assertEqual(run.wait_for_exit(180), 0, run.report())
            for who, text in [("air-client", "script passed"),
                              ("game", 'ordinary start, game port {2}, arguments "first second"'),
                              ("game", '<- launcher  CHATMESSAGE_TO_GAME "hello game"'),
                              ("game", "versions\\1.1.0/drux-game.exe"), ("game", 'arguments "with args"'),
                              ("launcher", "exit callback"), ("launcher", "removed the controller")]:
                self.assertTrue(run.noted(who, run.expand(text)), (who, text, run.report()))
            self.assertFalse(run.noted("launcher", "error callback"), run.report())
            for name in ("drux-game.exe", "DruxLauncher.dll"):
                self.assertTrue(os.path.exists(run.file("versions/1.1.0/" + name)), name)


if __name__ == "__main__":
    unittest.main()
