// padfile: append zero bytes to a file until it is as long as another.

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#ifdef __linux__
#include <sys/vfs.h>
#endif

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static_assert(sizeof(off_t) >= 8,
    "off_t must be 64 bits: build with -D_FILE_OFFSET_BITS=64");

static const char *pg;

// Large enough that system calls cost nothing next to the copy into the
// page cache; larger blocks measured no faster.
static constexpr off_t blksize = 1 << 20;

// The signals that end a process by default and come from outside it:
// interrupts, in short. SIGTSTP only stops it, and is left alone.
static constexpr int intr[] = { SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM,
    SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF };

#ifdef __linux__
// Reserved a piece at a time, so that a held signal is seen within a
// fraction of a second even where reserving zero-fills the blocks.
static constexpr off_t resvsize = off_t(256) << 20;

// The file systems where writing into a reserve measured slower than the
// writes alone, by their statfs f_type: tmpfs, which zero-fills what it
// reserves, and xfs. tmpfs's free space is exact, so the check before
// suffices there.
static constexpr unsigned long noresv[] = { 0x01021994, 0x58465342 };
#endif

// The change to the original, from its beginning until the caller is told.
struct txn {
	int fd;		// the original, open for appending
	off_t start;	// its size before the run
	off_t done;	// the bytes this run appended
	bool resv;	// whether blocks may be reserved past its end
	sigset_t held;	// the interrupts held meanwhile
};

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

// Past the file-size limit (even in the copy-up that opening a file on
// overlayfs may do), or to a pipe nobody reads, a call then fails and is
// reported, instead of a kill that says nothing. Our own descriptors must
// not land on 0-2, or a closed stdout or stderr would have the messages
// appended to the original.
static void
guard(void)
{
	struct sigaction ign {};

	ign.sa_handler = SIG_IGN;
	if (sigaction(SIGXFSZ, &ign, nullptr) == -1 ||
	    sigaction(SIGPIPE, &ign, nullptr) == -1)
		fail("sigaction");
	for (int fd = 0; fd < 3; fd++)
		if (fcntl(fd, F_GETFD) == -1) {
			if (errno != EBADF)
				fail("fcntl");
			if (open("/dev/null", O_RDONLY) == -1)
				fail("open");
		}
}

// Open path read-only and take its size; the descriptor is the caller's.
// A directory opens read-only, and ext4 then reports a size near 2^63.
static int
measure(const char *path, off_t *size)
{
	struct stat st;
	int fd;

	if ((fd = open(path, O_RDONLY | O_NONBLOCK)) == -1)
		fail("open");
	if (fstat(fd, &st) == -1)
		fail("fstat");
	if (S_ISDIR(st.st_mode)) {
		errno = EISDIR;
		fail("open");
	}
	if ((*size = lseek(fd, 0, SEEK_END)) == -1)
		fail("lseek");
	return fd;
}

// Open the original for appending, as the file that ofd measured, and
// close ofd; *start is its size now. O_NONBLOCK: a FIFO moved there, or a
// lease another process holds, would block the open. A block device
// ignores O_APPEND, so its first bytes would be overwritten: only a
// regular file is appended to. A path renamed or relinked meanwhile
// reaches another file; while ofd is open, its inode number cannot be
// reused. Both are looked at after the open, which on overlayfs may copy
// the file up.
static int
reopen(const char *path, int ofd, off_t *start)
{
	struct stat st, mst;
	int fd;

	if ((fd = open(path, O_WRONLY | O_APPEND | O_NONBLOCK)) == -1)
		fail("open");
	if (fstat(fd, &st) == -1)
		fail("fstat");
	if (!S_ISREG(st.st_mode)) {
		errno = EINVAL;
		fail("open");
	}
	if (fstat(ofd, &mst) == -1)
		fail("fstat");
	if (st.st_dev != mst.st_dev || st.st_ino != mst.st_ino) {
		errno = ESTALE;
		fail("open");
	}
	if (close(ofd) == -1)
		fail("close");
	*start = st.st_size;
	return fd;
}

// A padding that cannot fit fails before a byte is reserved or written.
// Past the file-size limit the writes would fail only part way (a reserve
// ignores the limit), leaving zeros that an append-only file cannot give
// back. Past the free space they would take a shared disk's last blocks;
// the blocks kept for root count as free, so nothing root could write is
// refused. A file system that reports no size (many FUSE ones) says
// nothing of its free space.
static void
fits(int fd, off_t start, off_t pad)
{
	struct statvfs vfs;
	struct rlimit rl;

	if (getrlimit(RLIMIT_FSIZE, &rl) == -1)
		fail("getrlimit");
	if (rl.rlim_cur != RLIM_INFINITY && static_cast<uintmax_t>(start) +
	    static_cast<uintmax_t>(pad) > rl.rlim_cur) {
		errno = EFBIG;
		fail("write");
	}
	if (fstatvfs(fd, &vfs) == -1)
		fail("fstatvfs");
	if (vfs.f_blocks != 0 && vfs.f_frsize != 0 &&
	    (static_cast<uintmax_t>(pad) - 1) / vfs.f_frsize >= vfs.f_bfree) {
		errno = ENOSPC;
		fail("write");
	}
}

// Begin: interrupts are held while the original is changed. One inherited
// as ignored is not held, or it would show as pending and undo the padding
// for nothing; one inherited as blocked is not, or unblocking it could not
// end the process.
static void
begin(struct txn *t, int fd, off_t start)
{
	struct sigaction sa;
	sigset_t old;

	t->fd = fd;
	t->start = start;
	t->done = 0;
	t->resv = false;
	if (sigprocmask(SIG_BLOCK, nullptr, &old) == -1)
		fail("sigprocmask");
	sigemptyset(&t->held);
	for (int sig : intr) {
		if (sigaction(sig, nullptr, &sa) == -1)
			fail("sigaction");
		if (sa.sa_handler == SIG_DFL && sigismember(&old, sig) == 0)
			sigaddset(&t->held, sig);
	}
	if (sigprocmask(SIG_BLOCK, &t->held, nullptr) == -1)
		fail("sigprocmask");
}

// Cut the original back to its size before the run. Up to that plus what
// this run wrote, the bytes can only be this run's, even where the file
// system kept only part of them (NFSv3 after a late error). Any other size
// means another process changed the file: it is left alone, since not all
// of it is ours to cut. At the start size the bytes are as they were, and
// a cut only releases blocks reserved past the end: that it fails (an
// append-only file refuses every cut) is not said. Whatever keeps the
// original from being as it was gets a line.
static void
rollback(const struct txn *t)
{
	struct stat st;

	if (fstat(t->fd, &st) == -1) {
		report("fstat");
		return;
	}
	if (st.st_size < t->start || st.st_size > t->start + t->done)
		errno = ECANCELED;
	else if (st.st_size == t->start && !t->resv)
		return;
	else if (ftruncate(t->fd, t->start) == 0 || st.st_size == t->start)
		return;
	report("ftruncate");
}

// Abort: say what failed, then roll back.
[[noreturn]] static void
undo(const struct txn *t, const char *label)
{
	report(label);
	rollback(t);
	exit(1);
}

// Between two steps of the change, a held interrupt aborts it. Unblocked
// after the roll-back, the signal ends the process with the status the
// caller expects; sigprocmask returns only on failure.
static void
step(const struct txn *t)
{
	sigset_t p;

	if (sigpending(&p) == -1)
		undo(t, "sigpending");
	for (int sig : intr)
		if (sigismember(&t->held, sig) == 1 &&
		    sigismember(&p, sig) == 1) {
			rollback(t);
			sigprocmask(SIG_UNBLOCK, &t->held, nullptr);
			fail("sigprocmask");
		}
}

// Reserve the padding's blocks past the end, where the system can. That
// fails at once where they run out (quotas, the blocks kept for root,
// another writer), and measured faster to write into on ext4. Where the
// file system cannot reserve, the zeros are written as they are.
static void
reserve(struct txn *t, off_t pad)
{
#ifdef __linux__
	struct statfs sfs;
	off_t n;
	int e;

	if (fstatfs(t->fd, &sfs) == -1)
		undo(t, "fstatfs");
	t->resv = true;
	for (unsigned long type : noresv)
		if (static_cast<unsigned long>(sfs.f_type) == type)
			t->resv = false;
	for (off_t at = 0; t->resv && at < pad; at += n) {
		n = pad - at < resvsize ? pad - at : resvsize;
		while ((e = fallocate(t->fd, FALLOC_FL_KEEP_SIZE, t->start + at,
		    n)) == -1 && errno == EINTR)
			;
		if (e == -1) {
			if (errno != EOPNOTSUPP && errno != ENOSYS)
				undo(t, "fallocate");
			t->resv = at != 0;
			break;
		}
		step(t);
	}
#else
	(void)t;
	(void)pad;
#endif
}

// Append the zeros; a failure or a held interrupt undoes the run.
static void
append(struct txn *t, off_t pad)
{
	// Writing the block makes its pages our own. Copying from them into
	// the page cache measured faster than from the kernel's shared zero
	// page that untouched pages map, and page alignment faster than a
	// heap block's 16-byte offset; touching only what is used keeps a
	// tiny padding cheap.
	alignas(4096) static char zeros[blksize];
	off_t n;
	ssize_t w;

	memset(zeros, 0, static_cast<size_t>(pad < blksize ? pad : blksize));
	while (t->done < pad) {
		n = pad - t->done < blksize ? pad - t->done : blksize;
		while ((w = write(t->fd, zeros, static_cast<size_t>(n))) == -1 &&
		    errno == EINTR)
			;
		if (w <= 0) {
			if (w == 0)
				errno = EIO;
			undo(t, "write");
		}
		t->done += w;
		step(t);
	}
}

// Commit. Closing a duplicate makes a file system that defers write errors
// (NFS, SMB, FUSE with a writeback cache) report them, and keeps the
// descriptor for the roll-back. The zeros are not synced: that would make
// a large padding several times slower. Exit 0 must mean the caller was
// told, so a lost line undoes the run. A signal that arrives after the
// last block is dropped by the exit.
static void
commit(const struct txn *t, const char *path)
{
	int dfd;

	if ((dfd = dup(t->fd)) == -1)
		undo(t, "dup");
	if (close(dfd) == -1)
		undo(t, "close");
	if (printf("%s: wrote %jd bytes to %s.\n", pg,
	    static_cast<intmax_t>(t->done), path) < 0 || fflush(stdout) == EOF)
		undo(t, "write");
}

int
main(int argc, char *argv[])
{
	struct txn t;
	const char *p;
	off_t osize, rsize, pad, start;
	int fd, ofd;

	pg = argc > 0 ? argv[0] : "padfile";
	if ((p = strrchr(pg, '/')) != nullptr)
		pg = p + 1;
	guard();
	if (argc != 3) {
		fprintf(stderr, "Usage: %s %s\n", pg, "original replacement");
		exit(1);
	}

	// The original's descriptor stays open until the append descriptor
	// is known to reach the same file.
	ofd = measure(argv[1], &osize);
	if (close(measure(argv[2], &rsize)) == -1)
		fail("close");
	pad = rsize - osize;
	if (pad < 1) {
		fprintf(stderr, "%s: %s is >= than %s, no changes made.\n",
		    pg, argv[1], argv[2]);
		exit(1);
	}
	fd = reopen(argv[1], ofd, &start);
	fits(fd, start, pad);

	// From here until the caller is told, every failure and every held
	// signal undoes what this run reserved and wrote.
	begin(&t, fd, start);
	reserve(&t, pad);
	append(&t, pad);
	commit(&t, argv[1]);
	exit(0);
}
