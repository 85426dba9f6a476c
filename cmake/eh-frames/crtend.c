/* Last of the files of every 32-bit link (see crtbegin.c): the zero length that ends the program's
 * DWARF unwind tables. */
static const int eh_frame_end[] __attribute__((used, section(".eh_frame"), aligned(4))) = {0};
