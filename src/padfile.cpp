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

// The signals that end a process by default and come from outside it:
// interrupts, in short. SIGTSTP only stops it, and is left alone.
static constexpr int intr[] = { SIGHUP, SIGINT, SIGQUIT, SIGTERM, SIGALRM,
    SIGUSR1, SIGUSR2, SIGXCPU, SIGVTALRM, SIGPROF };

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

// Interrupts are held while the original is changed. One inherited as
// ignored is not held, or it would show as pending and undo the padding
// for nothing; one inherited as blocked is not, or unblocking it could
// not end the process.
static void
hold(sigset_t *set)
{
	struct sigaction sa;
	sigset_t old;

	if (sigprocmask(SIG_BLOCK, nullptr, &old) == -1)
		fail("sigprocmask");
	sigemptyset(set);
	for (int sig : intr) {
		if (sigaction(sig, nullptr, &sa) == -1)
			fail("sigaction");
		if (sa.sa_handler == SIG_DFL && sigismember(&old, sig) == 0)
			sigaddset(set, sig);
	}
	if (sigprocmask(SIG_BLOCK, set, nullptr) == -1)
		fail("sigprocmask");
}

// Whether one of the held signals has arrived, or -1 if that is unknown.
static int
arrived(const sigset_t *set)
{
	sigset_t p;

	if (sigpending(&p) == -1)
		return -1;
	for (int sig : intr)
		if (sigismember(set, sig) == 1 && sigismember(&p, sig) == 1)
			return 1;
	return 0;
}

// Cut the original back to its size before the run. Any other size than
// that plus what this run wrote means another process, or the file system
// itself, changed the file: it is left alone, since not all of it is ours
// to cut. Whatever keeps the original from being as it was gets a line.
static void
rollback(int fd, off_t start, off_t done)
{
	struct stat st;

	if (fstat(fd, &st) == -1) {
		report("fstat");
		return;
	}
	if (st.st_size == start)
		return;
	if (st.st_size != start + done)
		errno = ECANCELED;
	else if (ftruncate(fd, start) == 0)
		return;
	report("ftruncate");
}

// Abort the padding: say what failed, then roll back.
[[noreturn]] static void
undo(const char *label, int fd, off_t start, off_t done)
{
	report(label);
	rollback(fd, start, done);
	exit(1);
}

int
main(int argc, char *argv[])
{
	struct sigaction ign {};
	struct stat st;
	sigset_t held;
	const char *p;
	alignas(4096) static char zeros[blksize];
	off_t osize, rsize, pad, done, start, n;
	ssize_t w;
	int fd, dfd, sig;

	pg = argc > 0 ? argv[0] : "padfile";
	if ((p = strrchr(pg, '/')) != nullptr)
		pg = p + 1;
	// Past the file-size limit (even in the copy-up that opening a file
	// on overlayfs may do), or to a pipe nobody reads, a call then fails
	// and is reported, instead of a kill that says nothing.
	ign.sa_handler = SIG_IGN;
	if (sigaction(SIGXFSZ, &ign, nullptr) == -1 ||
	    sigaction(SIGPIPE, &ign, nullptr) == -1)
		fail("sigaction");
	// Our own descriptors must not land on 0-2, or a closed stdout or
	// stderr would have the messages appended to the original.
	for (fd = 0; fd < 3; fd++)
		if (fcntl(fd, F_GETFD) == -1) {
			if (errno != EBADF)
				fail("fcntl");
			if (open("/dev/null", O_RDONLY) == -1)
				fail("open");
		}
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

	// Writing the block makes its pages our own. Copying from them into
	// the page cache measured faster than from the kernel's shared zero
	// page that untouched pages map, and page alignment faster than a
	// heap block's 16-byte offset; touching only what is used keeps a
	// tiny padding cheap.
	memset(zeros, 0, static_cast<size_t>(pad < blksize ? pad : blksize));

	// Begin: from here until the caller is told, every failure and every
	// held signal undoes what this run wrote.
	start = st.st_size;
	hold(&held);
	for (done = 0; done < pad;) {
		n = pad - done < blksize ? pad - done : blksize;
		while ((w = write(fd, zeros, static_cast<size_t>(n))) == -1 &&
		    errno == EINTR)
			;
		if (w <= 0) {
			if (w == 0)
				errno = EIO;
			undo("write", fd, start, done);
		}
		done += w;
		if ((sig = arrived(&held)) == -1)
			undo("sigpending", fd, start, done);
		if (sig == 1) {
			rollback(fd, start, done);
			// Unblocked, the signal ends the process with the
			// status the caller expects; this returns only on
			// failure.
			sigprocmask(SIG_UNBLOCK, &held, nullptr);
			fail("sigprocmask");
		}
	}

	// Commit. Closing a duplicate makes a file system that defers write
	// errors (NFS, SMB, FUSE with a writeback cache) report them, and
	// keeps the descriptor for the roll-back. The zeros are not synced:
	// that would make a large padding several times slower. A signal
	// that arrives after the last block is dropped by the exit.
	if ((dfd = dup(fd)) == -1)
		undo("dup", fd, start, done);
	if (close(dfd) == -1)
		undo("close", fd, start, done);
	// Exit 0 must mean the caller was told; a lost line undoes the run.
	if (printf("%s: wrote %jd bytes to %s.\n", pg,
	    static_cast<intmax_t>(done), argv[1]) < 0 || fflush(stdout) == EOF)
		undo("write", fd, start, done);
	exit(0);
}
