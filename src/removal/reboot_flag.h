// rebootRequired: a file operation was deferred to the next start of Windows.
// Process-wide, false at program start; read by the window after a scan.
#pragma once

bool IsRebootRequired();
void SetRebootRequired();
// Called once when the application object is created.
void ClearRebootRequired();
