// The Unicode layer of the 32-bit programs. Windows 95/98/ME export most wide
// ("W") functions only as stubs that fail; the Microsoft Layer for Unicode
// (unicows.dll, placed next to the program by the user) supplies them. The
// layer owns the import pointers of the functions in
// unicode_layer_functions.h: each starts at a resolver that binds it on its
// first call, from unicows.dll on 9x/ME and from the system DLL on the NT
// family, so the program calls them as usual and imports none of them.
//
// On 9x/ME without unicows.dll the program says so (a message box, in silent
// mode a line in its log, for a console program a line on standard error),
// shows no window and ends with kExitUnicodeLayerMissing. The 64-bit build has
// no layer: there every function is the system's.
#pragma once

#include <windows.h>

constexpr int kExitUnicodeLayerMissing = -12;

// Binds every function of the layer now (the programs call it first thing;
// a call made before, during the runtime's start, binds its own function).
// Where unicows.dll is needed and missing, reports it and ends the program.
void BindUnicodeLayer();

// The address of the wide function `name` as unicows.dll supplies it on
// 9x/ME; null elsewhere or when the layer lacks it. Run-time binding of
// optional wide functions (SHGetSpecialFolderPathW, ...) asks this first.
FARPROC UnicodeLayerProcAddress(const char* name);

// Whether the layer binds from unicows.dll (a 32-bit program on 9x/ME).
bool UnicodeLayerUsesUnicows();
