#!/usr/bin/env bats
# Permissions, checked as an unprivileged user.

load common

setup() {
	# The unprivileged user needs a folder it can reach, and a binary
	# it can run.
	dir=$(mktemp -d /tmp/padfile.XXXXXX)
	chmod 755 "$dir"
	cp "$PADFILE" "$dir/padfile"
	cd "$dir" || return 1
	mkfile o 3
	mkfile r 10
}

teardown() {
	rm -rf "$dir"
}

upf() {
	status=0
	unpriv timeout 20 ./padfile "$@" >stdout 2>stderr || status=$?
}

@test "a read-only original is measured, then refused at the append" {
	chmod 444 o r
	upf o r
	want 1 "" "padfile: open: $(describe EACCES)"
	upf o nosuch
	want 1 "" "padfile: open: $(describe ENOENT)"
	unchanged o r
}

@test "an original that cannot be read fails at once" {
	chmod 222 o
	chmod 444 r
	upf o r
	want 1 "" "padfile: open: $(describe EACCES)"
	chmod 644 o
	unchanged o r
}

@test "the replacement must be readable, and is never written" {
	chmod 666 o
	chmod 000 r
	upf o r
	want 1 "" "padfile: open: $(describe EACCES)"
	chmod 444 r
	upf o r
	want 0 "padfile: wrote 7 bytes to o." ""
	padded o 10
	unchanged r
}
