// Lets the compiler check printf-style formats against their arguments.
#pragma once

#if defined(__GNUC__)
// fmt and args are the 1-based positions of the format and its first
// argument; a member function counts its object as position 1.
#define OMBRELIX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define OMBRELIX_PRINTF(fmt, args)
#endif
