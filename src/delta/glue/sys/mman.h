/* Empty: mmap() and munmap() are bsdiff_program_glue.h's. */
