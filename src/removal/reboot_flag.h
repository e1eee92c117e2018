// rebootRequired: a file operation was deferred to the next start of Windows.
// Process-wide, false at program start; read by the window after a scan.
#pragma once

bool IsRebootRequired();
// Sets the flag and counts one more deferred operation.
void SetRebootRequired();
// Deferred operations of the program run so far: a primitive that returned
// "done or scheduled" scheduled when this grew during its call.
unsigned DeferredOperationCount();
// Called once when the application object is created.
void ClearRebootRequired();
