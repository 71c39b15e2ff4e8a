#pragma once
// The visible start's registration: default settings, the program's own path for the add-in,
// and regsvr32 on the add-in beside the program.

// Gives missing settings their defaults, writes the program's full path as `path` and starts
// regsvr32.exe on mervane.dll in the program's folder (not waited for). Returns 1, or 0 when the
// settings key could be neither opened nor created (the user has then been told). Settings that
// may be read but not written are left as they are and the start goes on; the user is told when
// `path` names another program or none, as it could not be recorded.
int EnsureSettingsAndRegisterAddin();
