// What the stand-in programs write about themselves when they start: one block
// per run, appended to "<own executable path>.run", so that a test sees the
// exact arguments and working directory the launcher gave them and knows which
// process identifiers it has to clean up.
#pragma once

void RecordRun(int argc, char** argv);
// Sleeps until the process is killed, or for at most `seconds` so that nothing
// is left behind by a test that failed to clean up.
void WaitToBeKilled(int seconds);
