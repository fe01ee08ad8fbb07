#pragma once

struct TCommandLine;

// --rip: rips the chosen audio tracks of the chosen disc, one after the other, and returns the
// exit status (0 all ripped, 1 a track failed or was not replaced, 130 interrupted). A failed
// track does not stop the others. Raises EUsageError for a track that is not on the disc.
int RipTracks(const TCommandLine& line);
