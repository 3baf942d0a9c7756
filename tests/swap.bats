#!/usr/bin/env bats
# The zeros go only to the file that was measured, and a path that reaches
# something else by the time of the append neither hangs nor is written.

load common

@test "a path moved to another file before the append is refused" {
	local row name when how err held

	mkfile r 4000
	mkfile scratch 10
	read -r name when < <(nth O_WRONLY scratch r)
	[ -n "$name" ]
	# What takes the original's place while the append open is held up,
	# and the line that follows.
	for row in "rename ESTALE" "symlink ESTALE" "fifo ENXIO"; do
		read -r how err <<<"$row"
		echo "# $how"
		rm -rf o a b keep f
		mkfile a 10
		printf 'another file' >b
		cp b b.orig
		# The measured file is a, through the path o.
		if [ "$how" = symlink ]; then
			ln -s a o
			held=a
		else
			ln a o
			held=o
		fi
		timeout 20 strace -f -qq -o /dev/null \
		    -e "inject=$name:delay_enter=1s:when=$when" \
		    "$PADFILE" o r >stdout 2>stderr &
		holding "$!" "$PWD/$held"
		case $how in
		rename) mv b o ;;
		symlink) ln -s b f && mv -T f o ;;
		fifo) mkfifo f && mv f o ;;
		esac
		status=0
		wait "$!" || status=$?
		want 1 "" "padfile: open: $(describe "$err")"
		unchanged a r
		case $how in
		rename) cmp o b.orig ;;
		symlink) unchanged b ;;
		esac
	done
}

@test "a lease another process holds is refused at once" {
	mkfile o 10
	mkfile r 4000
	# The holder's read lease does not stop the measuring, only a writer.
	perl -MFcntl -e '$SIG{IO} = "IGNORE"; open(my $f, "<", "o") or die;
	    fcntl($f, 1024, F_RDLCK) or die "F_SETLEASE: $!\n";
	    open(my $p, ">", "ready") or die; close($p); sleep 30' 2>lease.err &
	holder=$!
	for ((i = 0; i < 1000; i++)); do
		[ ! -e ready ] || break
		kill -0 "$holder" 2>/dev/null || break
		sleep 0.01
	done
	[ -e ready ] || skip "no lease here: $(cat lease.err)"
	pf o r
	kill "$holder"
	want 1 "" "padfile: open: $(describe EAGAIN)"
	unchanged o r
}
