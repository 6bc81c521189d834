#pragma once
// The console's own command-line options, looked at before any window is
// made: --help and --version print and end the program. Everything else
// (Qt's own options such as -platform) is left to the application object.

// Prints the help or the version and exits when either was asked for;
// returns otherwise.
void handleConsoleCommandLine(int argc, char *argv[]);
