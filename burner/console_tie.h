#pragma once
// A worker belongs to the console that started it and ends when that console
// ends, however it ends: a burn nobody can record must not go on, and the
// next console would start its own worker for the same board.

// Arranges for this process to end with the console named in the
// environment. False when that console has already ended: the worker must
// then not start its burn. A worker started without a console (by hand)
// is left as it is.
bool tieToConsole();
