/* First of the files of every 32-bit link (see cmake/clang-mingw-common.cmake): marks the start of
 * the program's DWARF unwind tables (.eh_frame) and registers them, before any other constructor
 * runs, with the unwinder linked into this very program (libgcc_eh, linked statically).
 *
 * Why not GCC's crtbegin.o, which does the same: it first looks for a libgcc_s_dw2-1.dll already
 * loaded in the process and, when one is there (another module built with MinGW brought it),
 * registers the tables with that DLL's unwinder instead. Ours then finds no tables, and the
 * first exception thrown in this program ends the process.
 *
 * Compiled without unwind tables of its own: nothing comes between the marker and the tables of
 * the files that follow it; crtend.c, last of the link, ends them. */
#include <stdlib.h>

void __register_frame_info(const void* begin, void* object);
void* __deregister_frame_info(const void* begin);

static const char eh_frame_begin[] __attribute__((used, section(".eh_frame"), aligned(4))) = {};

/* The unwinder's record of these tables (its struct object, six words on i686), kept here
 * from registration to deregistration; larger than needed. */
static void* registration[16];

static void deregister_frames(void) {
    __deregister_frame_info(eh_frame_begin);
}

static void register_frames(void) {
    __register_frame_info(eh_frame_begin, registration);
    atexit(deregister_frames);
}

/* Constructors run from the end of this list: the highest-numbered section first. */
static void (*register_first)(void)
    __attribute__((used, section(".ctors.65535"))) = register_frames;
