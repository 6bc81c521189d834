#include "console_tie.h"

// On Windows the console puts each worker into its job object, which the
// system kills together with the console: nothing to do on this side.
bool tieToConsole()
{
    return true;
}
