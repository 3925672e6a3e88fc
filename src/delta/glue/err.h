/* Empty: err() and errx() are bsdiff_program_glue.h's. */
