// xdelta3's header, for the files of src/delta only. It is C written for a
// POSIX or a Win32 build: on Windows it would pull in <windows.h>, which the
// portable core never includes, and it defines one-letter macros (Q, Z) that
// collide with ordinary names. So the standard headers it needs come first,
// its Windows branch is hidden while it is read (the types it picks are the
// same fixed-width ones either way: the build passes the sizes of the C types
// to both sides), and its short macros go afterwards.
#pragma once

#include <errno.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>

#ifdef _WIN32
#pragma push_macro("_WIN32")
#undef _WIN32
#define VANTOREL_XDELTA3_HID_WIN32
#endif

extern "C" {
#include "xdelta3.h"
}

#ifdef VANTOREL_XDELTA3_HID_WIN32
#pragma pop_macro("_WIN32")
#undef VANTOREL_XDELTA3_HID_WIN32
#endif
#undef Q
#undef Z
#undef DP
#undef RINT

static_assert(sizeof(xoff_t) == 8, "xdelta3 must be built with 64-bit file offsets");
