#!/usr/bin/env bats
# Padding, and the cases that change nothing.

load common

teardown() {
	[ -z "${shm-}" ] || rm -rf "$shm"
}

@test "the difference is appended as zeros after the unchanged bytes" {
	mkfile o 3
	mkfile r 10
	pf o r
	want 0 "padfile: wrote 7 bytes to o." ""
	padded o 10
	mkfile e 0
	pf e r
	want 0 "padfile: wrote 10 bytes to e." ""
	padded e 10
	mkfile one 9
	pf one r
	want 0 "padfile: wrote 1 bytes to one." ""
	padded one 10
	unchanged r
}

@test "an original not shorter is left alone, a second run included" {
	mkfile o 3
	mkfile r 10
	pf o r
	pf o r
	want 1 "" "padfile: o is >= than r, no changes made."
	padded o 10
	mkfile long 11
	pf long r
	want 1 "" "padfile: long is >= than r, no changes made."
	pf r r
	want 1 "" "padfile: r is >= than r, no changes made."
	unchanged long r
}

@test "a padding of several blocks, ending in a partial one" {
	mkfile o 10
	mkfile r $((3 * 1048576 + 5))
	pf o r
	want 0 "padfile: wrote 3145723 bytes to o." ""
	padded o $((3 * 1048576 + 5))
	unchanged r
}

@test "sizes past 4 GiB are measured in full" {
	truncate -s 4G o r big
	printf xyz >>o
	truncate -s +13 r
	printf 'tiny' >tiny
	pf o r
	want 0 "padfile: wrote 10 bytes to o." ""
	[ "$(stat -c %s o)" -eq $((4 * 1073741824 + 13)) ]
	[ "$(tail -c 13 o | od -An -c | tr -d ' \n')" = 'xyz\0\0\0\0\0\0\0\0\0\0' ]
	[ "$(stat -c %s r)" -eq $((4 * 1073741824 + 13)) ]
	pf big tiny
	want 1 "" "padfile: big is >= than tiny, no changes made."
	[ "$(stat -c %s big)" -eq $((4 * 1073741824)) ]
	[ "$(cat tiny)" = tiny ]
}

@test "a padding over 2 GiB is written in full and counted in 64 bits" {
	local need=$((2147483648 + 65536 * 1024)) free d=

	# Real zeros: tmpfs takes them fastest.
	if shm=$(mktemp -d /dev/shm/padfile.XXXXXX 2>/dev/null) &&
	    [ "$(df -B1 --output=avail "$shm" | tail -n 1)" -ge "$need" ]; then
		d=$shm
	fi
	free=$(df -B1 --output=avail "$BATS_TEST_TMPDIR" | tail -n 1)
	[ -n "$d" ] || [ "$free" -lt "$need" ] || d=$BATS_TEST_TMPDIR
	[ -n "$d" ] || skip "needs $need bytes free on /dev/shm or $BATS_TEST_TMPDIR, which has $free"
	mkfile "$d/o" 7
	truncate -s $((2147483648 + 12)) "$d/r"
	pf "$d/o" "$d/r"
	want 0 "padfile: wrote 2147483653 bytes to $d/o." ""
	padded "$d/o" $((2147483648 + 12))
}
