// padfile: append zero bytes to a file until it is as long as another.

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

static const char *pg;

// Large enough that system calls cost nothing next to the copy into the
// page cache; larger blocks measured no faster.
static constexpr off_t blksize = 1 << 20;

static void
report(const char *label)
{
	int saved = errno;

	fprintf(stderr, "%s: ", pg);
	errno = saved;
	perror(label);
}

[[noreturn]] static void
fail(const char *label)
{
	report(label);
	exit(1);
}

// A directory opens read-only, and ext4 then reports a size near 2^63.
static off_t
measure(const char *path)
{
	struct stat st;
	off_t size;
	int fd;

	if ((fd = open(path, O_RDONLY | O_NONBLOCK)) == -1)
		fail("open");
	if (fstat(fd, &st) == -1)
		fail("fstat");
	if (S_ISDIR(st.st_mode)) {
		errno = EISDIR;
		fail("open");
	}
	if ((size = lseek(fd, 0, SEEK_END)) == -1)
		fail("lseek");
	if (close(fd) == -1)
		fail("close");
	return size;
}

// Cut off what this run appended, unless the file has since grown by
// other hands, then report the failure that made it necessary.
[[noreturn]] static void
undo(int fd, off_t start, off_t done)
{
	struct stat st;
	int saved = errno;

	if (done > 0 && fstat(fd, &st) == 0 && st.st_size == start + done &&
	    ftruncate(fd, start) == -1) {
		int err = errno;

		errno = saved;
		report("write");
		errno = err;
		fail("ftruncate");
	}
	errno = saved;
	fail("write");
}

int
main(int argc, char *argv[])
{
	struct stat st;
	const char *p;
	alignas(4096) static char zeros[blksize];
	off_t osize, rsize, pad, done, start, n;
	ssize_t w;
	int fd;

	pg = argc > 0 ? argv[0] : "padfile";
	if ((p = strrchr(pg, '/')) != nullptr)
		pg = p + 1;
	// Our own descriptors must not land on 0-2, or a closed stdout or
	// stderr would have the messages appended to the original.
	for (fd = 0; fd < 3; fd++)
		if (fcntl(fd, F_GETFD) == -1 &&
		    open("/dev/null", O_RDONLY) != fd)
			fail("open");
	if (argc != 3) {
		fprintf(stderr, "Usage: %s %s\n", pg, "original replacement");
		exit(1);
	}

	osize = measure(argv[1]);
	rsize = measure(argv[2]);
	pad = rsize - osize;
	if (pad < 1) {
		fprintf(stderr, "%s: %s is >= than %s, no changes made.\n",
		    pg, argv[1], argv[2]);
		exit(1);
	}

	// O_APPEND means nothing to a block device, so the zeros would
	// overwrite its first bytes: only a regular file is appended to.
	if ((fd = open(argv[1], O_WRONLY | O_APPEND)) == -1)
		fail("open");
	if (fstat(fd, &st) == -1)
		fail("fstat");
	if (!S_ISREG(st.st_mode)) {
		errno = EINVAL;
		fail("open");
	}
	start = st.st_size;

	// Writing the block makes its pages our own. Copying from them into
	// the page cache measured faster than from the kernel's shared zero
	// page that untouched pages map, and page alignment faster than a
	// heap block's 16-byte offset; touching only what is used keeps a
	// tiny padding cheap.
	memset(zeros, 0, static_cast<size_t>(pad < blksize ? pad : blksize));

	// Past the file-size limit, or to a pipe nobody reads, a write then
	// fails and is rolled back, instead of a kill that leaves the file
	// padded with neither status.
	if (signal(SIGXFSZ, SIG_IGN) == SIG_ERR ||
	    signal(SIGPIPE, SIG_IGN) == SIG_ERR)
		fail("signal");
	for (done = 0; done < pad; done += w) {
		n = pad - done < blksize ? pad - done : blksize;
		while ((w = write(fd, zeros, static_cast<size_t>(n))) == -1 &&
		    errno == EINTR)
			;
		if (w <= 0) {
			if (w == 0)
				errno = EIO;
			undo(fd, start, done);
		}
	}

	// Exit 0 must mean the caller was told; a lost line undoes the run.
	printf("%s: wrote %jd bytes to %s.\n", pg, static_cast<intmax_t>(done),
	    argv[1]);
	if (fflush(stdout) == EOF)
		undo(fd, start, done);
	exit(0);
}
