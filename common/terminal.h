#pragma once
// Whether the process's standard output is a terminal someone reads.

bool standardOutputIsTerminal();
