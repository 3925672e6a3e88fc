/* The calls bsdiff.c makes, redirected (see bsdiff_program_glue.h), and the
 * function that runs it. A run is one call of vantorel_bsdiff_run: what it
 * allocates or opens is recorded here, so that a failure, which jumps back
 * from deep inside the encoder, still releases all of it. */
#include <errno.h>
#include <setjmp.h>
#include <stdarg.h>
#include <stdlib.h>
#include <string.h>

#include "bsdiff_program.h"

int vantorel_bsdiff_main(int argc, char* argv[]);

/* bsdiff holds at most four blocks and two maps at once, and three files. */
#define MAX_BLOCKS 8
#define MAX_FILES 4

static jmp_buf g_failed;
static char* g_message;
static size_t g_messageBytes;
static void* g_blocks[MAX_BLOCKS];
static FILE* g_files[MAX_FILES];

void vantorel_bsdiff_fail(int withErrno, const char* format, ...) {
    const int error = errno;
    size_t used = 0;
    g_message[0] = '\0';
    if (format) {
        va_list args;
        va_start(args, format);
        vsnprintf(g_message, g_messageBytes, format, args);
        va_end(args);
        used = strlen(g_message);
        if (used > 0 && g_message[used - 1] == '\n') g_message[--used] = '\0';
    }
    if (withErrno && used + 1 < g_messageBytes) {
        snprintf(g_message + used, g_messageBytes - used, "%s%s", used ? ": " : "",
                 error == ENOMEM || !format ? "not enough memory" : strerror(error));
    }
    longjmp(g_failed, 1);
}

static int Remember(void** slots, size_t count, void* item) {
    size_t i;
    for (i = 0; i < count; ++i) {
        if (!slots[i]) {
            slots[i] = item;
            return 1;
        }
    }
    return 0;
}

static int Forget(void** slots, size_t count, void* item) {
    size_t i;
    for (i = 0; i < count; ++i) {
        if (slots[i] == item) {
            slots[i] = NULL;
            return 1;
        }
    }
    return 0;
}

void* vantorel_bsdiff_alloc(size_t bytes) {
    void* block = malloc(bytes ? bytes : 1);
    if (block && !Remember(g_blocks, MAX_BLOCKS, block)) {
        free(block);
        block = NULL;
    }
    if (!block) errno = ENOMEM;
    return block;
}

void vantorel_bsdiff_free(void* block) {
    if (block && Forget(g_blocks, MAX_BLOCKS, block)) free(block);
}

static int Track(FILE* file) {
    int fd;
    for (fd = 0; fd < MAX_FILES; ++fd) {
        if (!g_files[fd]) {
            g_files[fd] = file;
            return fd;
        }
    }
    fclose(file);
    errno = EMFILE;
    return -1;
}

static FILE* Tracked(int fd) { return fd >= 0 && fd < MAX_FILES ? g_files[fd] : NULL; }

int vantorel_bsdiff_open(const char* path) {
    FILE* file = vantorel_bsdiff_open_file(path, "rb");
    if (!file) return -1;
    return Track(file);
}

int64_t vantorel_bsdiff_seek_end(int fd) {
    FILE* file = Tracked(fd);
    if (!file || vantorel_bsdiff_seek_file(file, 0, SEEK_END) != 0) return -1;
    return vantorel_bsdiff_tell_file(file);
}

int vantorel_bsdiff_close(int fd) {
    FILE* file = Tracked(fd);
    if (!file) return -1;
    g_files[fd] = NULL;
    return fclose(file);
}

/* The whole file read into memory: as much as the mapping bsdiff asks for,
 * whose pages it populates at once anyway. */
void* vantorel_bsdiff_map(int64_t bytes, int fd) {
    FILE* file = Tracked(fd);
    unsigned char* block;
    size_t done = 0;
    if (!file || bytes < 0 || (uint64_t)bytes > (size_t)-1 ||
        vantorel_bsdiff_seek_file(file, 0, SEEK_SET) != 0) {
        errno = EINVAL;
        return NULL;
    }
    block = vantorel_bsdiff_alloc((size_t)bytes);
    if (!block) return NULL;
    while (done < (size_t)bytes) {
        const size_t got = fread(block + done, 1, (size_t)bytes - done, file);
        if (got == 0) {
            vantorel_bsdiff_free(block);
            errno = EIO;
            return NULL;
        }
        done += got;
    }
    return block;
}

int vantorel_bsdiff_unmap(void* block) {
    vantorel_bsdiff_free(block);
    return 0;
}

FILE* vantorel_bsdiff_create(const char* path) {
    FILE* file = vantorel_bsdiff_open_file(path, "wb");
    if (file && Track(file) < 0) return NULL;
    return file;
}

int vantorel_bsdiff_fclose(FILE* file) {
    Forget((void**)g_files, MAX_FILES, file);
    return fclose(file);
}

int vantorel_bsdiff_fseek(FILE* file, int64_t offset, int origin) {
    return vantorel_bsdiff_seek_file(file, offset, origin);
}

int64_t vantorel_bsdiff_ftell(FILE* file) { return vantorel_bsdiff_tell_file(file); }

static void ReleaseRun(void) {
    size_t i;
    for (i = 0; i < MAX_BLOCKS; ++i) {
        free(g_blocks[i]);
        g_blocks[i] = NULL;
    }
    for (i = 0; i < MAX_FILES; ++i) {
        if (g_files[i]) fclose(g_files[i]);
        g_files[i] = NULL;
    }
}

int vantorel_bsdiff_run(const char* oldPath, const char* newPath, const char* deltaPath, char* message,
                        size_t messageBytes) {
    char* argv[] = {"bsdiff", (char*)oldPath, (char*)newPath, (char*)deltaPath, NULL};
    volatile int failed = 1;
    if (messageBytes == 0) return 1;
    g_message = message;
    g_messageBytes = messageBytes;
    message[0] = '\0';
    if (setjmp(g_failed) == 0) failed = vantorel_bsdiff_main(4, argv) != 0;
    ReleaseRun();
    return failed;
}
