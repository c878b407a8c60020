#pragma once

#include <cstdio>

// The panel's command line. The panel takes no options: it answers --help and
// --version on standard output and ends, before any window system is touched,
// so both work with no display; with any other arguments it starts as usual
// and ignores them. The first of --help and --version decides.
enum class TCommandLineAction { Start, Help, Version };

TCommandLineAction ParseCommandLine(int Argc, const char* const* Argv);

// Writes the answer to Help or Version on Out and returns the exit code: 0,
// or 1 when Out could not be written, which is said on Err.
int AnswerCommandLine(TCommandLineAction Action, std::FILE* Out, std::FILE* Err);

// The program entry's first step: -1 when the panel is to start, else the
// exit code of an answer given on standard output.
int HandleCommandLine(int Argc, char** Argv);

// The program's version, as the package and the About window give it.
const char* ProgramVersion();
