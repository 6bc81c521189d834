#pragma once
// What zelflash needs of the platform: stopping on Ctrl-C and SIGTERM at a
// safe point, surviving a closed standard output, and the serial ports
// present.

#include <string>
#include <vector>

// Ctrl-C and SIGTERM ask the running procedure to stop at its next safe point
// (a second Ctrl-C ends the program at once); writing to a closed pipe no
// longer ends it.
void installStopHandlers();

// 0, or the signal number that asked to stop.
int stopSignal();

// The exit status for a stop by that signal: 130 for Ctrl-C, 143 for SIGTERM.
int stopExitStatus(int signal);

// "Ctrl-C" or "SIGTERM".
std::string stopSignalName(int signal);

// Whether standard output is a terminal (a progress bar may be redrawn).
bool standardOutputIsTerminal();

// The serial ports present, as -p takes them, sorted: stable by-id names
// first, then the ports behind them.
std::vector<std::string> serialPorts();

// Whether a serial port path exists yet (a board just plugged in).
bool serialPortPresent(const std::string &port);
