// Farm client: placeholder until the farm process lands.
#include "backend.h"

#include <cstdio>

namespace vboard {
namespace detail {

std::unique_ptr<Backend> makeFarmBackend(const std::string &socketPath)
{
    fprintf(stderr, "vusb: the board farm (%s) is not available in this build\n", socketPath.c_str());
    return nullptr;
}

} // namespace detail

bool farmCommand(const std::string &, const std::string &, std::string *reply)
{
    *reply = "error: the board farm is not available in this build\n";
    return false;
}

} // namespace vboard
