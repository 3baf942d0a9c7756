/*
 * limitfs: a FUSE file system holding one file, o, that keeps no more than
 * a given number of bytes, for the suite's deferred write errors.
 *
 *   limitfs MOUNTPOINT LIMIT late|partial|short
 *
 * late: the kernel caches writes (writeback cache) and sends them at close,
 * where those past the limit fail with ENOSPC.
 * partial: each write is taken whole but stored only up to the limit, the
 * size then reported is what was stored, and the close fails with ENOSPC,
 * as a full NFSv3 export does.
 * short: each write takes only the first half of what it is given, so that
 * the writer sees a short count.
 * It has no statfs handler, so it reports no size, and no fallocate.
 */
#define FUSE_USE_VERSION 31

#include <errno.h>
#include <fuse.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

static char *data;
static off_t size, limit;
static int partial, shortw, dropped;

static void *
lfs_init(struct fuse_conn_info *conn, struct fuse_config *cfg)
{
	cfg->attr_timeout = 0;
	cfg->entry_timeout = 0;
	if (!partial && !shortw)
		conn->want |= FUSE_CAP_WRITEBACK_CACHE;
	return NULL;
}

static int
lfs_getattr(const char *path, struct stat *st, struct fuse_file_info *fi)
{
	(void)fi;
	memset(st, 0, sizeof *st);
	if (strcmp(path, "/") == 0) {
		st->st_mode = S_IFDIR | 0755;
		st->st_nlink = 2;
	} else if (strcmp(path, "/o") == 0) {
		st->st_mode = S_IFREG | 0666;
		st->st_nlink = 1;
		st->st_size = size;
		st->st_blocks = (size + 511) / 512;
	} else
		return -ENOENT;
	return 0;
}

static int
lfs_read(const char *path, char *buf, size_t n, off_t off,
    struct fuse_file_info *fi)
{
	(void)path; (void)fi;
	if (off >= size)
		return 0;
	if ((off_t)n > size - off)
		n = size - off;
	memcpy(buf, data + off, n);
	return n;
}

static int
lfs_write(const char *path, const char *buf, size_t n, off_t off,
    struct fuse_file_info *fi)
{
	off_t end, kept;

	(void)path; (void)fi;
	if (shortw && n > 1)
		n /= 2;
	end = kept = off + (off_t)n;
	if (end > limit) {
		if (!partial)
			return -ENOSPC;
		kept = limit;
		dropped = 1;
	}
	if (kept > off)
		memcpy(data + off, buf, kept - off);
	if (kept > size)
		size = kept;
	return n;
}

static int
lfs_truncate(const char *path, off_t n, struct fuse_file_info *fi)
{
	(void)path; (void)fi;
	if (n > limit)
		return -EFBIG;
	if (n > size)
		memset(data + size, 0, n - size);
	size = n;
	return 0;
}

/* With the writeback cache the kernel sends the times at close. */
static int
lfs_utimens(const char *path, const struct timespec tv[2],
    struct fuse_file_info *fi)
{
	(void)path; (void)tv; (void)fi;
	return 0;
}

static int
lfs_flush(const char *path, struct fuse_file_info *fi)
{
	(void)path; (void)fi;
	if (dropped) {
		dropped = 0;
		return -ENOSPC;
	}
	return 0;
}

int
main(int argc, char *argv[])
{
	struct fuse_operations ops;
	char *args[] = { argv[0], "-s", "-o", "default_permissions", argv[1],
	    NULL };

	if (argc != 4 || (limit = atoll(argv[2])) <= 0 ||
	    (data = calloc(1, limit)) == NULL)
		return 2;
	partial = strcmp(argv[3], "partial") == 0;
	shortw = strcmp(argv[3], "short") == 0;
	memset(&ops, 0, sizeof ops);
	ops.init = lfs_init;
	ops.getattr = lfs_getattr;
	ops.read = lfs_read;
	ops.write = lfs_write;
	ops.truncate = lfs_truncate;
	ops.utimens = lfs_utimens;
	ops.flush = lfs_flush;
	return fuse_main(5, args, &ops, NULL);
}
