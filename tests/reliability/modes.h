// The modes of the reliability program. Each takes the arguments after the mode's name and
// returns the program's exit status: 0 passed, 1 a check failed, 2 bad arguments.
#pragma once

int run_fuzz(int argc, char** argv);
int run_soak(int argc, char** argv);
int run_storm(int argc, char** argv);
int run_wall(int argc, char** argv);
