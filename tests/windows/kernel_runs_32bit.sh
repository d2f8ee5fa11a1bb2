#!/bin/bash
# Whether this kernel runs 32-bit x86 programs (Wine's 32-bit loader is one):
# a program of two instructions, assembled for i386 with binutils, must exit
# with its own status. Says why not in one line.
set -u
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
# exit(42) through the 32-bit system-call gate. (bash, not sh: a shell that
# cannot execute a program must say so, not read it as a script.)
printf '.globl _start\n_start: movl $1, %%eax\nmovl $42, %%ebx\nint $0x80\n' > "$work/probe.s"
if ! as --32 -o "$work/probe.o" "$work/probe.s" || ! ld -m elf_i386 -o "$work/probe" "$work/probe.o"; then
    echo "cannot build a 32-bit probe program (binutils without i386 support)"
    exit 1
fi
"$work/probe" 2>"$work/why"
status=$?
[ "$status" = 42 ] && exit 0
echo "this kernel cannot run 32-bit programs ($(tail -n 1 "$work/why" | sed 's/^.*probe: //'))"
exit 1
