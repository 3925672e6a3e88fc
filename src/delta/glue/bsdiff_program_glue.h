/* Read before bsdiff.c (the build force-includes it there): Debian's bsdiff
 * is a program that opens and maps its files, allocates, and exits through
 * err() on any failure. Its system calls are redirected to
 * bsdiff_program_glue.c, which opens files by UTF-8 paths on every side,
 * reads instead of mapping (Windows has no mmap; the memory is the same),
 * keeps what the run holds so it can be freed, and turns err() into a jump
 * back to the caller. The headers bsdiff.c names come first, so that its own
 * includes of them change nothing afterwards. */
#ifndef VANTOREL_BSDIFF_PROGRAM_GLUE_H
#define VANTOREL_BSDIFF_PROGRAM_GLUE_H

#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <unistd.h>

#include "bsdiff_program.h"

#define main vantorel_bsdiff_main
#define u_char unsigned char

void vantorel_bsdiff_fail(int withErrno, const char* format, ...);
#define err(code, ...) vantorel_bsdiff_fail(1, __VA_ARGS__)
#define errx(code, ...) vantorel_bsdiff_fail(0, __VA_ARGS__)

void* vantorel_bsdiff_alloc(size_t bytes);
void vantorel_bsdiff_free(void* block);
#define malloc(bytes) vantorel_bsdiff_alloc(bytes)
#define free(block) vantorel_bsdiff_free(block)

/* File numbers are the glue's own: indexes of the files it opened. */
int vantorel_bsdiff_open(const char* path);
int64_t vantorel_bsdiff_seek_end(int fd);
int vantorel_bsdiff_close(int fd);
void* vantorel_bsdiff_map(int64_t bytes, int fd);
int vantorel_bsdiff_unmap(void* block);
#define open(path, ...) vantorel_bsdiff_open(path)
#define lseek(fd, offset, origin) vantorel_bsdiff_seek_end(fd)
#define close(fd) vantorel_bsdiff_close(fd)
#define mmap(address, bytes, protection, flags, fd, offset) vantorel_bsdiff_map((int64_t)(bytes), fd)
#define munmap(block, bytes) vantorel_bsdiff_unmap(block)
#define MAP_FAILED ((void*)0)

FILE* vantorel_bsdiff_create(const char* path);
int vantorel_bsdiff_fclose(FILE* file);
int vantorel_bsdiff_fseek(FILE* file, int64_t offset, int origin);
int64_t vantorel_bsdiff_ftell(FILE* file);
#define fopen(path, mode) vantorel_bsdiff_create(path)
#define fclose(file) vantorel_bsdiff_fclose(file)
#define fseeko(file, offset, origin) vantorel_bsdiff_fseek(file, offset, origin)
#define ftello(file) vantorel_bsdiff_ftell(file)

#endif
