#pragma once
// Where the tests' stand-in add-in records its registration (under HKEY_CURRENT_USER): values
// `module` (its own path), `commandline` (regsvr32's command line) and `count` (calls so far).
constexpr char kRegistrationRecordKey[] = "Software\\Brisomel\\ShellTests\\Registration";
