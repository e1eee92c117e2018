// Sub-commands of the analyst tool tesmora-sig. Each takes the arguments after
// the program name (argv[0] is the command word) and returns the exit status.
#pragma once

int RunCheckCommand(int argc, char** argv);   // check_command.cpp
int RunQuarantineCommand(int argc, char** argv);  // quarantine_command.cpp
int RunRecordCommand(int argc, char** argv);  // record_command.cpp
int RunScanCommand(int argc, char** argv);    // scan_command.cpp
