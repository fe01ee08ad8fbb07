#include "cli/Rip.h"

#include "cli/CommandLine.h"

#include <cstdio>

int RipTracks(const TCommandLine&)
{
    std::fputs("tarvik: ripping from the command line is not available in this build yet\n",
               stderr);
    return 1;
}
