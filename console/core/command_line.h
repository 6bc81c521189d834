#pragma once
// The console's own command-line options, looked at before any window is
// made: --help and --version print and end the program; --verbose asks for
// every log line on standard output even when it is no terminal. Everything
// else (Qt's own options such as -platform) is left to the application object.

// Prints the help or the version and exits when either was asked for;
// otherwise returns whether --verbose was given.
bool handleConsoleCommandLine(int argc, char *argv[]);
