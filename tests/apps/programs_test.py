"""The real programs as separate processes: whole launcher runs (the launcher
host, the stand-in AIR client and game, the sample patch library) and each
program's refusal of bad input. Under Wine (the Windows build's test) the runs
marked for Windows are made with the Windows programs."""
import os
import signal
import unittest
from dataclasses import dataclass

from launcher_run import EMULATOR, LauncherRun, eventually, listen_on, program_running

QUIT = "chat /quit\nwait STOPPED 20\nclose\n"
CONNECTED = "create game\nwait CONNECTED_TO_SERVER 20\n"


@dataclass
class Run:
    name: str
    script: str
    figures: str = "processStartPauseMs=100,processExitWaitMs=3000"
    options: tuple = ()   # the launcher's, besides the ports
    before: tuple = ()    # (who, note) waited for before the action
    action: str = None    # "air-client" or "game" (killed), or "SIGINT" (sent to the launcher; "SIGINT twice")
    not_yet: tuple = ()   # launcher notes that must not have been written once the action took effect
    status: int = 0
    expected: tuple = ()  # (who, note), "{...}" filled in
    absent: tuple = ()
    left_files: tuple = ()  # that the run must leave, "{...}" filled in
    complete: bool = False  # the script passes; the exit callback, and no error, ends the run
    windows: bool = False   # made under Wine too (the others signal or kill programs by their Linux pids)
    ports: bool = True      # the run's own ports given to the launcher (False: options choose them)
    unc: bool = False       # Wine only: the programs are named by a network path
    relaunch: bool = False  # a second launcher, started at once on the same ports, must listen and run


RUNS = [
    # Chat goes both ways; the game stops on "/quit".
    Run("Ordinary", "create game first second\nwait LAUNCHED 20\nwait CONNECTED_TO_SERVER 20\nchat hello game\n"
        "wait CHATMESSAGE_FROM_GAME 10 echo: hello game\n" + QUIT, complete=True, windows=True,
        expected=[("game", 'ordinary start, game port {2}, arguments "first second"'),
                  ("game", '<- launcher  CHATMESSAGE_TO_GAME "hello game"')]),
    # The patch library installs a version (the game and the library it loads) that is then started.
    Run("Version", 'enumerate latest\nwait ENUMERATE_LATEST_VERSIONS 10 ["2.0.0","1.1.0","1.0.0"]\ninstall 1.1.0\n'
        'install progress\nwait INSTALL_PROGRESS 10 "state":"complete"\nenumerate installed\n'
        'wait ENUMERATE_INSTALLED_VERSIONS 10 ["1.1.0"]\ncreate version 1.1.0 with args\n'
        "wait CONNECTED_TO_SERVER 20\n" + QUIT, complete=True, windows=True,
        left_files=["versions/1.1.0/drux-game{exe}", "versions/1.1.0/{library}"],
        expected=[("game", "started from {versions}1.1.0/drux-game{exe}"), ("game", 'arguments "with args"')]),
    # The preloaded game takes the credentials and the play text from the AIR port.
    Run("Preload", "preload abc def\nwait INITIAL_PRELOAD_COMPLETE 20\ncredentials user=demo\n"
        "wait UPDATE_PLAYER_CONNECTION 10 player connected: user=demo\nplay\nwait GAME_LOADING_COMPLETE 10\n"
        "wait CONNECTED_TO_SERVER 10\n" + QUIT, complete=True, windows=True,
        expected=[("game", 'preloaded, game port {2}, payload "abc def"'),
                  ("game", "credentials (AIR port): game port {2}"), ("game", 'args "user=demo"')]),
    # The launcher chooses three free ports itself and says which.
    Run("PortsAuto", CONNECTED + QUIT, options=["--ports", "auto"], ports=False, complete=True, windows=True,
        expected=[("launcher", "--ports auto: chose the free ports launcher "), ("game", "ordinary start, game port ")]),
    # Under Wine: the AIR client and the game named by a network path. Each is
    # started with its folder on the share as its working directory, which the
    # system accepts only in the form Windows resolves (a leading "\\" kept).
    # Wine then starts the program in its Windows folder instead: it cannot
    # make a share the working directory of a process.
    Run("FromANetworkShare", CONNECTED + QUIT, windows=True, unc=True,
        options=["--air-path", "{unc}\\KyrCLient.exe", "--game-path", "{unc}\\drux-game.exe"], complete=True,
        expected=[("game", "ordinary start, game port {2}")]),
    Run("AirClientKilledMidRun", CONNECTED + "chat /quit\nwait STOPPED 20\n",
        before=[("air-client", "script passed")], action="air-client", status=2,
        expected=[("launcher", "error callback: VANTRELERRORTYPE_AIRHEARTBEAT: Contact with Air lost version 2."),
                  ("launcher", "exit callback")]),
    Run("GameKilledMidRun", CONNECTED + "wait CRASHED 20\nclose\n",
        before=[("game", "-> launcher  GAMECLIENT_CONNECTED_TO_SERVER"), ("launcher", "supervising the run")],
        action="game", expected=[("air-client", "<- launcher  GAMECLIENT_CRASHED"), ("air-client", "script passed")]),
    # Killed at once, while the launcher is still starting the AIR client: the
    # game is gone before the host's first poll, which reports it all the same.
    Run("GameKilledBeforeTheFirstPoll", "create game\nwait CRASHED 30\nclose\n",
        figures="processStartPauseMs=3000,processExitWaitMs=3000", before=[("game", "pid ")], action="game",
        not_yet=["supervising the run"],  # the start still pauses
        expected=[("air-client", "<- launcher  GAMECLIENT_CRASHED"), ("air-client", "script passed")]),
    # The commands travel on the AIR client's command line; the AIR client
    # answers the launcher's CLOSE, which closes the game too.
    Run("CtrlC", "", options=["--air-args", '--commands "create game; wait CONNECTED_TO_SERVER 20"'],
        before=[("air-client", "script passed: 2 commands"), ("launcher", "supervising the run")], action="SIGINT",
        status=130, relaunch=True,
        expected=[("air-client", "started, script --commands"),
                  ("air-client", "the launcher closed the run; answering CLOSE"),
                  ("game", "<- launcher  CLOSE"), ("game", "-> launcher  GAMECLIENT_STOPPED")]),
    # A second Ctrl-C at once: the launcher stops waiting and removes
    # everything, its side closing the connections first.
    Run("CtrlCTwice", CONNECTED, before=[("game", "-> launcher  GAMECLIENT_CONNECTED_TO_SERVER"),
        ("launcher", "supervising the run")], action="SIGINT twice", status=130, relaunch=True),
    # The AIR client closes the run while the game is connected.
    Run("CloseWhileConnected", CONNECTED + "close\n", windows=True, relaunch=True),
    # Pauses of ten minutes: only the cut can end the start, so the run ending
    # at all shows that the signal was acted on during the start.
    Run("CtrlCDuringTheStart", "", figures="processStartPauseMs=600000,processExitWaitMs=3000",
        before=[("air-client", "connected to the launcher's AIR port")], action="SIGINT", status=130,
        expected=[("launcher", "SIGINT during the start: cutting it short"),
                  ("air-client", "the launcher closed the run; answering CLOSE"), ("launcher", "exit callback")],
        absent=[("launcher", "supervising the run")]),
]

BAD_INPUT = [  # program, arguments ("{...}" filled in, split at blanks), AIR script, exit status, message
    ("drux-launcher", "--air-port 70000", "", 1, '"70000" is not a port'),
    ("drux-launcher", "--frobnicate", "", 1, 'unknown option "--frobnicate"'),
    ("drux-launcher", "--ports 47310", "", 1, 'option --ports: the value must be "auto"'),
    ("drux-launcher", "--ports auto --game-port {2}", "", 1, "--ports auto chooses all three ports"),
    # A port that is taken is named, with the system's reason and the way out.
    ("drux-launcher", "--launcher-port {3} --air-port {1} --game-port {2}", "", 1,
     "cannot listen on the launcher port {3}: "),
    ("drux-launcher", "--launcher-port {0} --air-port {3} --game-port {2}", "", 1,
     "cannot listen on the AIR port {3}: "),
    ("drux-launcher", "--launcher-port {0} --air-port {1} --game-port {3}", "", 1,
     "cannot listen on the game port {3}: "),
    ("drux-launcher", "{ports} --game-path {dir}/no-such-game --verify", "", 1,
     "VANTRELERRORTYPE_GENERIC: One or more of the required applications could not be found."),
    ("drux-launcher", "{ports} --air-path {dir}/no-such-air-client", "", 1,
     "VANTRELERRORTYPE_AIRPROCESSSTART: Unable to start air."),
    ("KyrCLient.exe", "-- {1}", "create game\nfly away\n", 1, 'line 2: unknown command "fly"'),
    ("KyrCLient.exe", "-- {1} --script {dir}/missing.air", "", 1, "cannot read script file"),
    ("KyrCLient.exe", "-runtime .\\ -nodebug", "", 1, 'missing "-- <port>"'),
    ("KyrCLient.exe", "-- {1} stray", "", 1, 'unexpected argument "stray" after the port'),
    ("KyrCLient.exe", "--script a --commands b -- {1}", "", 1, "--script and --commands exclude each other"),
    ("KyrCLient.exe", "-- {1}", "create game\n", 2, "cannot connect to 127.0.0.1:{1}"),
    ("drux-game", "12 only-two", "", 1, "got 2 arguments"),
    ("drux-game", "0 /l /a x", "", 1, 'the game port "0" is not a port (1..65535)'),
    ("drux-game", "game_client_preload x 99999 {2}", "", 1, 'the AIR port "99999" is not a port'),
    ("drux-game", "{2} /l /a x", "", 2, "cannot connect to the launcher's game port {2}"),
]


class ProgramsTest(unittest.TestCase):
    def test_each_run_ends_as_its_events_demand_and_leaves_nothing_behind(self):
        for case in RUNS:
            with self.subTest(case.name), LauncherRun(case.figures) as run:
                if EMULATOR and not case.windows:
                    self.skipTest("signals and kills by Linux pid: not under Wine")
                if case.unc and not EMULATOR:
                    self.skipTest("network paths: Windows only")
                run.set_script(case.script)
                run.start([run.expand(option) for option in case.options], case.ports)
                for who, text in case.before:
                    self.assertTrue(eventually(lambda: run.noted(who, text)), (who, text, run.report()))
                if case.action and case.action.startswith("SIGINT"):
                    for _ in case.action.split():
                        run.launcher.send_signal(signal.SIGINT)
                elif case.action:
                    pids = run.pids(case.action)
                    self.assertEqual(len(pids), 1, run.report())
                    os.kill(pids[0], signal.SIGKILL)
                    self.assertTrue(eventually(lambda: not program_running(pids[0])))
                for text in case.not_yet:
                    self.assertFalse(run.noted("launcher", text), run.report())
                self.assertEqual(run.wait_for_exit(), case.status, run.report())
                if case.relaunch:
                    ended = run.note_times("launcher", "exits with status")[-1]
                    run.set_script(CONNECTED + QUIT)
                    run.start()
                    self.assertEqual(run.wait_for_exit(), 0, run.report())
                    self.assertEqual(len(run.note_times("launcher", "supervising the run")), 2, run.report())
                    self.assertEqual(len(run.note_times("game", run.expand("ordinary start, game port {2}"))), 2)
                    self.assertFalse(run.noted("launcher", "cannot listen"), run.report())
                    relistening = run.note_times("launcher", "starting the AIR client")[-1]
                    print("relaunch after %s: the second launcher listened %d ms after the first exited"
                          % (case.name, relistening - ended))
                for who, text in case.expected:
                    self.assertTrue(run.noted(who, run.expand(text)), (who, text, run.report()))
                for who, text in case.absent:
                    self.assertFalse(run.noted(who, text), (who, text, run.report()))
                for name in case.left_files:
                    self.assertTrue(os.path.exists(run.file(run.expand(name))), name)
                if case.complete:
                    self.assertTrue(run.noted("air-client", "script passed"), run.report())
                    self.assertTrue(run.noted("launcher", "exit callback"), run.report())
                    self.assertFalse(run.noted("launcher", "error callback"), run.report())
                # Every run ends with the controller removed, nothing left running and no sanitizer report.
                self.assertTrue(run.noted("launcher", "removed the controller"), run.report())
                self.assertTrue(eventually(lambda: not run.running(), 10), run.running())
                self.assertEqual(run.sanitizer_reports(), "")

    def test_every_program_refuses_bad_input_with_a_clear_message_and_exit_status(self):
        with LauncherRun() as run:
            held = listen_on(run.ports[3])  # the port in use
            self.assertIsNotNone(held)
            self.addCleanup(held.close)
            for program, arguments, script, status, message in BAD_INPUT:
                with self.subTest(program=program, arguments=arguments):
                    run.set_script(script)
                    result, output = run.run_program(program, arguments)
                    self.assertEqual(result, status, output)
                    self.assertIn(run.expand(message), output)
            self.assertEqual(run.running(), [])


if __name__ == "__main__":
    unittest.main()
