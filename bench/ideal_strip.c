/* The least work a safe tag stripper can do per file, as a yardstick for tagsnip-cli.
 *
 *   ideal_strip [--sync | --sync-early | --no-sync | --in-place] DIR
 *   ideal_strip (--batch | --batch-fdatasync) [--files N] [--mib M] [--ms T] DIR
 *
 * Every *.mp3 under DIR loses its ID3v1 trailer and ID3v2 header. A trailer alone is cut in
 * place. With an ID3v2 tag the rest is copied in the kernel (copy_file_range) into an unnamed
 * O_TMPFILE in the same directory, given the original's mode, flushed with fdatasync (--sync, the
 * default; --no-sync leaves it to the page cache), named and renamed over the original.
 * --sync-early copies in 1 MiB pieces and starts the writeback of each piece at once
 * (sync_file_range), so that the disk works while the next piece is copied.
 * --in-place moves the audio to the front of the same file and cuts it: fast, not crash-safe.
 *
 * --batch is group commit: each copy starts its writeback at once (sync_file_range) and waits in a
 * queue with its descriptor open; when the queue holds N files (64) or M MiB (256) or its oldest
 * entry is T ms old (500), one syncfs flushes the whole batch, then each path that still names
 * the inode it named when opened gets its copy (linkat, renameat), then every directory touched
 * is fsynced once. --batch-fdatasync flushes with fdatasync of each queued file instead of
 * syncfs, which also flushes other programs' dirty data on the same file system. Trailer cuts
 * join the batch too, so that they are durable when it is committed.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

enum mode { SYNC, SYNC_EARLY, NO_SYNC, IN_PLACE, BATCH, BATCH_FDATASYNC };
static enum mode mode = SYNC;
static int failures;

static int fail(const char* path, const char* what) {
    fprintf(stderr, "%s: %s: %s\n", path, what, strerror(errno));
    ++failures;
    return -1;
}

static int copy_all(int from, off_t offset, off_t length, int to) {
    const off_t piece = mode == SYNC_EARLY ? (off_t)1 << 20 : length;
    off_t written = 0;
    while (length > 0) {
        ssize_t n =
            copy_file_range(from, &offset, to, NULL, (size_t)(length < piece ? length : piece), 0);
        if (n <= 0) {
            return -1;
        }
        if (mode == SYNC_EARLY) {
            sync_file_range(to, written, n, SYNC_FILE_RANGE_WRITE);
        }
        written += n;
        length -= n;
    }
    return 0;
}

static int move_to_front(int fd, off_t from, off_t length) {
    static char buffer[1 << 20];
    off_t to = 0;
    while (length > 0) {
        size_t want = length < (off_t)sizeof buffer ? (size_t)length : sizeof buffer;
        ssize_t n = pread(fd, buffer, want, from);
        if (n <= 0 || pwrite(fd, buffer, (size_t)n, to) != n) {
            return -1;
        }
        from += n;
        to += n;
        length -= n;
    }
    return ftruncate(fd, to);
}

/* An unnamed file in the directory of path, on the same file system as it. */
static int open_temporary_beside(const char* path) {
    char directory[4096];
    const char* slash = strrchr(path, '/');
    snprintf(directory, sizeof directory, "%.*s", (int)(slash - path), path);
    return open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
}

static int replace(const char* path, int fd, const struct stat* st, off_t keep, off_t end) {
    int tmp = open_temporary_beside(path);
    if (tmp < 0) {
        return fail(path, "O_TMPFILE");
    }
    int ok = copy_all(fd, keep, end - keep, tmp) == 0 && fchmod(tmp, st->st_mode & 07777) == 0 &&
             (mode == NO_SYNC || fdatasync(tmp) == 0);
    if (!ok) {
        close(tmp);
        return fail(path, "copy");
    }
    char proc[64], name[4200];
    snprintf(proc, sizeof proc, "/proc/self/fd/%d", tmp);
    const char* slash = strrchr(path, '/');
    snprintf(name, sizeof name, "%.*s/.ideal-%d", (int)(slash - path), path, (int)getpid());
    ok = linkat(AT_FDCWD, proc, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0 && rename(name, path) == 0;
    close(tmp);
    return ok ? 0 : fail(path, "rename");
}

/* One queued replacement: the copy's descriptor (or, for a trailer cut, the file's own), and the
 * status the path had when opened, to see at commit time that nobody replaced or changed it. */
struct queued {
    int fd;
    int renamed;
    char* path;
    struct stat st;
};

static struct queued* queue;
static size_t queued, batch_files = 64;
static off_t queued_bytes, batch_bytes = (off_t)256 << 20;
static double oldest, batch_seconds = 0.5;
static int sync_fd = -1;

static double now(void) {
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int same_file(const struct stat* a, const struct stat* b) {
    return a->st_dev == b->st_dev && a->st_ino == b->st_ino && a->st_size == b->st_size &&
           a->st_mtim.tv_sec == b->st_mtim.tv_sec && a->st_mtim.tv_nsec == b->st_mtim.tv_nsec &&
           a->st_ctim.tv_sec == b->st_ctim.tv_sec && a->st_ctim.tv_nsec == b->st_ctim.tv_nsec;
}

static int by_name(const void* a, const void* b) {
    return strcmp(*(char* const*)a, *(char* const*)b);
}

static void commit(void) {
    if (queued == 0) {
        return;
    }
    int flushed = 1;
    if (mode == BATCH) {
        flushed = syncfs(sync_fd) == 0;
    } else {
        for (size_t i = 0; i < queued && flushed; ++i) {
            flushed = fdatasync(queue[i].fd) == 0;
        }
    }
    if (!flushed) {
        fail(queue[0].path, "flush");
    }
    char** directories = malloc(queued * sizeof *directories);
    size_t touched = 0;
    for (size_t i = 0; i < queued; ++i) {
        struct queued* q = &queue[i];
        if (q->renamed && flushed) {
            struct stat st;
            char* slash = strrchr(q->path, '/');
            *slash = '\0';
            char proc[64], name[4200];
            snprintf(proc, sizeof proc, "/proc/self/fd/%d", q->fd);
            snprintf(name, sizeof name, "%s/.ideal-%d", q->path, (int)getpid());
            *slash = '/';
            if (fstatat(AT_FDCWD, q->path, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
                !same_file(&st, &q->st)) {
                fprintf(stderr, "%s: changed since it was opened, left alone\n", q->path);
                ++failures;
            } else if (linkat(AT_FDCWD, proc, AT_FDCWD, name, AT_SYMLINK_FOLLOW) != 0 ||
                       renameat(AT_FDCWD, name, AT_FDCWD, q->path) != 0) {
                fail(q->path, "rename");
            } else {
                *slash = '\0';
                directories[touched++] = q->path;
            }
        }
        close(q->fd);
    }
    /* The renames of one directory are made durable by one fsync of it. */
    qsort(directories, touched, sizeof *directories, by_name);
    for (size_t i = 0; i < touched; ++i) {
        if (i > 0 && strcmp(directories[i], directories[i - 1]) == 0) {
            continue;
        }
        int dir = open(directories[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0 || fsync(dir) != 0) {
            fail(directories[i], "directory fsync");
        }
        if (dir >= 0) {
            close(dir);
        }
    }
    free(directories);
    for (size_t i = 0; i < queued; ++i) {
        free(queue[i].path);
    }
    queued = 0;
    queued_bytes = 0;
}

static void enqueue(const char* path, int fd, int renamed, const struct stat* st, off_t bytes) {
    if (queued == 0) {
        oldest = now();
    }
    queue[queued++] = (struct queued){fd, renamed, strdup(path), *st};
    queued_bytes += bytes;
    if (queued >= batch_files || queued_bytes >= batch_bytes || now() - oldest >= batch_seconds) {
        commit();
    }
}

static int replace_batched(const char* path, int fd, const struct stat* st, off_t keep, off_t end) {
    int tmp = open_temporary_beside(path);
    if (tmp < 0) {
        return fail(path, "O_TMPFILE");
    }
    if (copy_all(fd, keep, end - keep, tmp) != 0 || fchmod(tmp, st->st_mode & 07777) != 0 ||
        sync_file_range(tmp, 0, 0, SYNC_FILE_RANGE_WRITE) != 0) {
        close(tmp);
        return fail(path, "copy");
    }
    enqueue(path, tmp, 1, st, end - keep);
    return 0;
}

static int strip(const char* path, const struct stat* st, int type, struct FTW* ftw) {
    (void)ftw;
    size_t length = strlen(path);
    if (type != FTW_F || length < 4 || strcasecmp(path + length - 4, ".mp3") != 0 ||
        st->st_size < 128) {
        return 0;
    }
    int fd = open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    struct stat opened;
    if (fd < 0 || fstat(fd, &opened) != 0) {
        fail(path, "open");
        if (fd >= 0) {
            close(fd);
        }
        return 0;
    }
    st = &opened;
    unsigned char header[10] = {0}, trailer[3] = {0};
    off_t end = st->st_size;
    if (pread(fd, trailer, 3, end - 128) == 3 && memcmp(trailer, "TAG", 3) == 0) {
        end -= 128;
    }
    off_t keep = 0;
    if (end >= 10 && pread(fd, header, 10, 0) == 10 && memcmp(header, "ID3", 3) == 0) {
        keep = ((off_t)(header[6] & 0x7f) << 21 | (header[7] & 0x7f) << 14 |
                (header[8] & 0x7f) << 7 | (header[9] & 0x7f)) +
               ((header[5] & 0x10) ? 20 : 10);
        if (keep > end) {
            keep = 0;
        }
    }
    if (keep == 0 && end != st->st_size && ftruncate(fd, end) != 0) {
        fail(path, "truncate");
    } else if (keep == 0 && end != st->st_size && mode == BATCH_FDATASYNC) {
        enqueue(path, fd, 0, st, 0);
        return 0;
    } else if (keep > 0 && (mode == BATCH || mode == BATCH_FDATASYNC)) {
        replace_batched(path, fd, st, keep, end);
    } else if (keep > 0 && mode == IN_PLACE && move_to_front(fd, keep, end - keep) != 0) {
        fail(path, "move");
    } else if (keep > 0 && mode != IN_PLACE) {
        replace(path, fd, st, keep, end);
    }
    close(fd);
    return 0;
}

static int batch_main(int argc, char** argv) {
    mode = strcmp(argv[1], "--batch") == 0 ? BATCH : BATCH_FDATASYNC;
    int i = 2;
    for (; i + 2 < argc; i += 2) {
        double value = atof(argv[i + 1]);
        if (strcmp(argv[i], "--files") == 0 && value >= 1) {
            batch_files = (size_t)value;
        } else if (strcmp(argv[i], "--mib") == 0 && value > 0) {
            batch_bytes = (off_t)(value * 1048576);
        } else if (strcmp(argv[i], "--ms") == 0 && value >= 0) {
            batch_seconds = value / 1000;
        } else {
            break;
        }
    }
    if (i != argc - 1) {
        fprintf(stderr,
                "usage: ideal_strip (--batch | --batch-fdatasync) [--files N] [--mib M] "
                "[--ms T] DIR\n");
        return 2;
    }
    /* Every queued file holds a descriptor: raise the soft limit to the hard one and keep the
     * batch below it, with room for the walk's own descriptors. */
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
        if (limit.rlim_cur != RLIM_INFINITY && batch_files + 128 > limit.rlim_cur) {
            batch_files = limit.rlim_cur > 256 ? limit.rlim_cur - 128 : 64;
        }
    }
    queue = calloc(batch_files, sizeof *queue);
    sync_fd = open(argv[argc - 1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (queue == NULL || sync_fd < 0) {
        perror(argv[argc - 1]);
        return 2;
    }
    if (nftw(argv[argc - 1], strip, 64, FTW_PHYS) != 0) {
        perror(argv[argc - 1]);
        return 2;
    }
    commit();
    return failures > 0;
}

int main(int argc, char** argv) {
    if (argc >= 3 &&
        (strcmp(argv[1], "--batch") == 0 || strcmp(argv[1], "--batch-fdatasync") == 0)) {
        return batch_main(argc, argv);
    }
    if (argc == 3 && strcmp(argv[1], "--sync-early") == 0) {
        mode = SYNC_EARLY;
    } else if (argc == 3 && strcmp(argv[1], "--no-sync") == 0) {
        mode = NO_SYNC;
    } else if (argc == 3 && strcmp(argv[1], "--in-place") == 0) {
        mode = IN_PLACE;
    } else if (!(argc == 3 && strcmp(argv[1], "--sync") == 0) && argc != 2) {
        fprintf(stderr,
                "usage: ideal_strip [--sync | --sync-early | --no-sync | --in-place] DIR\n");
        return 2;
    }
    if (nftw(argv[argc - 1], strip, 64, FTW_PHYS) != 0) {
        perror(argv[argc - 1]);
        return 2;
    }
    return failures > 0;
}
