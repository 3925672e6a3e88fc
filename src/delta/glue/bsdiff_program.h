/* Debian's bsdiff encoder as a function: what src/delta/bsdiff_encode.cpp
 * calls, and the file calls it makes back into the portable file layer. */
#ifndef VANTOREL_BSDIFF_PROGRAM_H
#define VANTOREL_BSDIFF_PROGRAM_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Writes to deltaPath the BSDIFF40 delta from oldPath to newPath. 0 on
 * success; else nonzero with the reason in message (always terminated), and
 * every allocation and file of the run released. deltaPath is left as the
 * failure left it: the caller writes beside the final place. Not reentrant. */
int vantorel_bsdiff_run(const char* oldPath, const char* newPath, const char* deltaPath, char* message,
                        size_t messageBytes);

/* The portable file layer, given by the C++ side: UTF-8 paths, 64-bit offsets. */
FILE* vantorel_bsdiff_open_file(const char* path, const char* mode);
int vantorel_bsdiff_seek_file(FILE* file, int64_t offset, int origin);
int64_t vantorel_bsdiff_tell_file(FILE* file);

#ifdef __cplusplus
}
#endif

#endif
