// Rewritings applied to every script word: short registry roots are widened
// to full root names, then path variables are replaced by folders.
#pragma once

#include <string>
#include <string_view>

class CFolderLookup;

// "hklm\Software" -> "HKEY_LOCAL_MACHINE\Software". Only the first four
// characters are tested, so "HKCUinfo.exe" becomes "HKEY_CURRENT_USERinfo.exe".
std::u16string ExpandRegistryRoot(std::u16string_view word);

// Replaces %SYSDIR%, %WINDIR%, %PROGRAM_FILES%, %HOME%, %TEMPDIR%,
// %TEMPORARY_INTERNET_FILES% and %COOKIES% (any letter case) by their values.
// Returns false, leaving `word` as it was, when the word names a variable
// whose value is null or empty.
bool ExpandPathVariables(std::u16string& word, CFolderLookup& folders);
