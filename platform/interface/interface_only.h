/*
 * The board's vendor libraries reduced to their interface: the names the
 * client libraries may use and nothing more. Each function says that it is
 * only an interface and fails, so a program loaded against these libraries
 * proves it needs no other name from them.
 */
#ifndef INTERFACE_ONLY_H
#define INTERFACE_ONLY_H

#include <stdio.h>

/* Results that mean failure to the callers: a negative code, or 0 for
 * functions that give a handle or an address. */
#define INTERFACE_FAILED (-1L)
#define INTERFACE_NONE 0L

static inline long interface_only(const char *name, long result)
{
    fprintf(stderr, "%s: interface only\n", name);
    return result;
}

/* Defines <name> to fail with <result>; the arguments the caller passes are
 * ignored. */
#define INTERFACE_FUNCTION(name, result)                                                                               \
    long name(void) { return interface_only(#name, result); }

#endif
