#!/usr/bin/env bats
# Operands that must be refused with nothing written.

load common

teardown() {
	[ -z "${loop-}" ] || losetup -d "$loop"
}

@test "a missing file is reported, the original first" {
	mkfile o 3
	pf nosuch o
	want 1 "" "padfile: open: $(describe ENOENT)"
	pf o nosuch
	want 1 "" "padfile: open: $(describe ENOENT)"
	# The replacement, a FIFO, would block if it were opened first.
	mkfifo fifo
	pf nosuch fifo
	want 1 "" "padfile: open: $(describe ENOENT)"
	unchanged o
}

@test "a directory is refused at its open" {
	mkfile o 3
	mkdir d
	pf o d
	want 1 "" "padfile: open: $(describe EISDIR)"
	pf d o
	want 1 "" "padfile: open: $(describe EISDIR)"
	unchanged o
}

@test "a FIFO can be neither measured nor padded, and does not hang" {
	mkfile o 3
	mkfifo fifo
	pf fifo o
	want 1 "" "padfile: lseek: $(describe ESPIPE)"
	pf o fifo
	want 1 "" "padfile: lseek: $(describe ESPIPE)"
	unchanged o
}

@test "only a regular file is appended to" {
	mkfile r 10
	pf /dev/null r
	want 1 "" "padfile: open: $(describe EINVAL)"
	[ "$(id -u)" -eq 0 ] || skip "loop devices need root"
	mkfile img 65536
	loop=$(losetup -f --show img 2>loop.err) ||
	    skip "no loop device: $(cat loop.err)"
	mkfile big 100000
	pf "$loop" big
	want 1 "" "padfile: open: $(describe EINVAL)"
	cmp "$loop" img.orig
	# A block device is a valid replacement: its size is the device's.
	mkfile o 6
	pf o "$loop"
	want 0 "padfile: wrote 65530 bytes to o." ""
	padded o 65536
	unchanged big r
}

@test "a lost success line or a closed stream leaves the original as it was" {
	mkfile o 3
	mkfile r 10
	status=0
	"$PADFILE" o r >&- 2>stderr || status=$?
	: >stdout
	want 1 "" "padfile: write: $(describe EBADF)"
	unchanged o
	# A reader gone before the success line is a failure like any other.
	status=0
	perl -e 'pipe(R, W) && close(R) && open(STDOUT, ">&W") && exec(@ARGV)' \
	    "$PADFILE" o r 2>stderr || status=$?
	: >stdout
	want 1 "" "padfile: write: $(describe EPIPE)"
	unchanged o
	# On a terminal printf itself writes the line, so its own failure is
	# the only sign of a terminal that is gone. The line is the second
	# write, or the first writev where the C library gathers it.
	script -qec 'strace -qq -o /dev/null -e inject=write:error=EIO:when=2 \
	    -e inject=writev:error=EIO:when=1 "$PADFILE" o r 2>stderr
	    echo $? >rc' /dev/null </dev/null >stdout
	status=$(cat rc)
	: >stdout
	want 1 "" "padfile: write: $(describe EIO)"
	unchanged o
	# The report of a write failing past the limit must land in neither
	# the original nor where stdin or stderr was.
	mkfile r $((3 * 1048576))
	status=0
	strace -f -qq -o /dev/null -e inject=write:error=ENOSPC:when=2 \
	    perl -e 'close(STDIN) && close(STDERR) && exec(@ARGV)' \
	    "$PADFILE" o r >stdout || status=$?
	: >stderr
	want 1 "" ""
	unchanged o r
}
