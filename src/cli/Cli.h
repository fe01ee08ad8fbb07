#pragma once

// Tarvik without a window: lists the drives and a disc's tracks, or rips tracks to WAV or MP3
// files with the same components the window uses. Creates its own (non-graphical) application
// object, so it runs where there is no display. Returns the process's exit status: 0 every
// chosen track was ripped, 1 a track failed, 2 a usage error, 130 stopped by Ctrl-C.
int RunCommandLine(int argc, char** argv);

// The program's version, as --version shows it.
const char* TarvikVersion();
