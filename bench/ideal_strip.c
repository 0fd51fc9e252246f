/* The least work a safe tag stripper can do per file, as a yardstick for tagsnip-cli.
 *
 *   ideal_strip [--sync | --sync-early | --no-sync | --in-place] DIR
 *
 * Every *.mp3 under DIR loses its ID3v1 trailer and ID3v2 header. A trailer alone is cut in
 * place. With an ID3v2 tag the rest is copied in the kernel (copy_file_range) into an unnamed
 * O_TMPFILE in the same directory, given the original's mode, flushed with fdatasync (--sync, the
 * default; --no-sync leaves it to the page cache), named and renamed over the original.
 * --sync-early copies in 1 MiB pieces and starts the writeback of each piece at once
 * (sync_file_range), so that the disk works while the next piece is copied.
 * --in-place moves the audio to the front of the same file and cuts it: fast, not crash-safe.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

enum mode { SYNC, SYNC_EARLY, NO_SYNC, IN_PLACE };
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

static int replace(const char* path, int fd, const struct stat* st, off_t keep, off_t end) {
    char directory[4096];
    const char* slash = strrchr(path, '/');
    snprintf(directory, sizeof directory, "%.*s", (int)(slash - path), path);
    int tmp = open(directory, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
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
    snprintf(name, sizeof name, "%s/.ideal-%d", directory, (int)getpid());
    ok = linkat(AT_FDCWD, proc, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0 && rename(name, path) == 0;
    close(tmp);
    return ok ? 0 : fail(path, "rename");
}

static int strip(const char* path, const struct stat* st, int type, struct FTW* ftw) {
    (void)ftw;
    size_t length = strlen(path);
    if (type != FTW_F || length < 4 || strcasecmp(path + length - 4, ".mp3") != 0 ||
        st->st_size < 128) {
        return 0;
    }
    int fd = open(path, O_RDWR | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        fail(path, "open");
        return 0;
    }
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
    } else if (keep > 0 && mode == IN_PLACE && move_to_front(fd, keep, end - keep) != 0) {
        fail(path, "move");
    } else if (keep > 0 && mode != IN_PLACE) {
        replace(path, fd, st, keep, end);
    }
    close(fd);
    return 0;
}

int main(int argc, char** argv) {
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
