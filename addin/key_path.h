#pragma once
// Composition of the registry key paths used by the add-in's registration. The paths go into
// fixed buffers so that the COM entry points never allocate or throw.
#include <cstddef>
#include <initializer_list>
#include <string_view>

// Joins the non-empty parts with single backslashes into `out` (capacity bytes, NUL included).
// Returns false, leaving `out` empty, when the result would not fit.
bool JoinKeyPath(std::initializer_list<std::string_view> parts, char* out, std::size_t capacity);

// "CLSID\<class id text>" under HKEY_CLASSES_ROOT.
bool ClassKeyPath(std::string_view clsidText, char* out, std::size_t capacity);

// "Software\Microsoft\Office\<host>\Addins\<progId>" under HKEY_CURRENT_USER: where an Office
// application looks for the COM add-ins it loads for the current user.
bool OfficeAddinKeyPath(std::string_view host, std::string_view progId, char* out,
                        std::size_t capacity);
