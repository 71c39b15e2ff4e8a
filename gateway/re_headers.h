#pragma once
// libre's headers with the definitions its build used: Debian's pkg-config file leaves them out,
// and without HAVE_INET6 struct sa is smaller than the one the library writes into.
#ifndef HAVE_INTTYPES_H
#define HAVE_INTTYPES_H 1
#endif
#ifndef HAVE_INET6
#define HAVE_INET6 1
#endif
#include <re.h>
// re_dbg.h (not part of re.h) wants a module name and level for its own macros, unused here.
#define DEBUG_MODULE "gateway"
#define DEBUG_LEVEL 0
#include <re_dbg.h>
