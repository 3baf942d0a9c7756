#!/usr/bin/env bats
# A padding that cannot fit fails before a byte lands, and gives back every
# block it reserved, on a small ext4 file system of the suite's own.

load common

setup() {
	cd "$BATS_TEST_TMPDIR" || return 1
	[ "$(id -u)" -eq 0 ] || skip "mounting a file system needs root"
	command -v mkfs.ext4 >/dev/null || skip "no mkfs.ext4: install e2fsprogs"
	# The unprivileged user needs a folder it can reach, and a binary it
	# can run.
	dir=$(mktemp -d /tmp/padfile.XXXXXX)
	chmod 755 "$dir"
	cp "$PADFILE" "$dir/padfile"
	cd "$dir" || return 1
	mkdir m
	# 1 GiB with 5 % of it kept for root; sparse, so it costs little.
	truncate -s 1G img
	mkfs.ext4 -q -m 5 img
	local err
	err=$(unshare -m sh -c 'mount -o loop img m' 2>&1) ||
	    skip "cannot mount an ext4 image: $err"
	mkfile r 10
}

teardown() {
	[ -z "${dir-}" ] || rm -rf "$dir"
}

# onfs FS SCRIPT: run SCRIPT with sh in a private mount namespace, where FS
# (ext4, the image; or a new tmpfs) is mounted on m and m/o is a copy of o,
# then copy m/o back to o. Its standard streams go to stdout and stderr,
# its status to status; b0 and b1 are m/o's blocks before and after, f0
# and f1 the file system's free ones.
onfs() {
	local mnt='mount -o loop img m'

	[ "$1" = ext4 ] || mnt='mount -t tmpfs -o size=64m tmpfs m'
	unshare -m sh -c "$mnt"' && cp o m/o && chown 65534 m/o &&
	    b0=$(stat -c %b m/o) && f0=$(stat -f -c %f m) && sync &&
	    { sh -c "$1"; echo $? >rc; } >stdout 2>stderr
	    sync; echo "$b0 $(stat -c %b m/o) $f0 $(stat -f -c %f m)" >blocks
	    chattr -a m/o 2>/dev/null; cp m/o o' sh "$2"
	status=$(cat rc)
	read -r b0 b1 f0 f1 <blocks
}

# givenback: m/o holds no more blocks than before, and the file system has
# all its free blocks back.
givenback() {
	# A reserve of more than four extents gives the file an extent tree,
	# whose one block the cut keeps.
	[ "$b1" -le $((b0 + 8)) ] || { echo "m/o had $b0 blocks, now $b1"; false; }
	[ "$f1" -ge $((f0 - 1)) ] || { echo "$f0 blocks were free, now $f1"; false; }
}

@test "a padding past the file-size limit fails before anything is written" {
	local row fs pre

	# An ext4 reserve ignores the limit; an append-only file refuses the
	# cut that would undo zeros written up to it.
	for row in tmpfs ext4 "ext4 chattr +a m/o"; do
		read -r fs pre <<<"$row"
		echo "# $row"
		mkfile o 100
		mkfile r $((1048576 + 1))
		onfs "$fs" "${pre:-:} 2>chattr.err || exit 99
		    exec prlimit --fsize=1048576 strace -f -qq -o trace \
		    -e trace=write,fallocate ./padfile m/o r"
		[ "$status" -ne 99 ] ||
		    skip "no append-only attribute: $(cat chattr.err)"
		want 1 "" "padfile: write: $(describe EFBIG)"
		unchanged o
		[ "$b1" -eq "$b0" ]
		nowrite
		# One that ends at the limit is made, and holds no more blocks
		# than its size needs: nothing stays reserved past the end.
		mkfile r 1048576
		onfs "$fs" "${pre:-:} && exec prlimit --fsize=1048576 ./padfile m/o r"
		want 0 "padfile: wrote 1048476 bytes to m/o." ""
		padded o 1048576
		[ "$b1" -eq 2048 ] || { echo "m/o has $b1 blocks, want 2048"; false; }
	done
}

@test "a padding past the free space fails before anything is written" {
	mkfile o 100
	truncate -s 2G r
	onfs ext4 'strace -f -qq -o trace -e trace=write,fallocate ./padfile m/o r'
	want 1 "" "padfile: write: $(describe ENOSPC)"
	unchanged o
	givenback
	nowrite
}

@test "a padding past what a user may use fails in the reserve, which is given back" {
	mkfile o 100
	# Past the blocks a user may take, within those kept for root.
	onfs ext4 'truncate -s $((($(stat -f -c "%a + 8192" m)) * 4096)) r &&
	    setpriv --reuid=65534 --regid=65534 --clear-groups ./padfile m/o r'
	want 1 "" "padfile: fallocate: $(describe ENOSPC)"
	unchanged o
	givenback
}

@test "an interrupt during the reserve rolls back with the signal's status" {
	mkfile o 100
	truncate -s 700M r
	# Each piece of the reserve is held up, so that the signal lands
	# between them, once the first has taken its blocks. A job that sh
	# starts in the background ignores SIGINT, so SIGTERM it is.
	onfs ext4 'b=$(stat -c %b m/o)
	    strace -f -qq -o trace -e trace=write,fallocate \
	    -e inject=fallocate:delay_enter=300ms \
	    perl -e '\''open(my $f, ">", "pid") or die; print $f $$;
	    close($f) or die; exec(@ARGV) or die'\'' ./padfile m/o r &
	    for i in $(seq 1000); do
		[ "$(stat -c %b m/o)" -le "$b" ] || break
		sleep 0.01
	    done
	    kill -s TERM "$(cat pid)"
	    wait "$!" 2>/dev/null'
	want 143 "" ""
	unchanged o
	givenback
	# The signal was seen between two pieces, before any zeros.
	[ "$(grep -cE '^[0-9 ]*write\([3-9], "\\0' trace)" -eq 0 ]
}

@test "an append-only original keeps its bytes, and a failure still says one line" {
	mkfile o 100
	mkfile r $((3 * 1048576))
	# The reserve succeeds; the first block fails, so nothing lands and
	# the cut that would give the reserve back is refused.
	unshare -m sh -c 'mount -o loop img m && cp o m/o &&
	    chattr +a m/o 2>chattr.err &&
	    { strace -f -qq -o /dev/null -e inject=write:error=ENOSPC:when=1 \
	    ./padfile m/o r; echo $? >rc; } >stdout 2>stderr;
	    chattr -a m/o; cp m/o o'
	[ -e rc ] || skip "no append-only attribute: $(cat chattr.err)"
	status=$(cat rc)
	want 1 "" "padfile: write: $(describe ENOSPC)"
	unchanged o r
}
