# 32-bit Windows programs under Wine: sourced by scripts/setup, which defines step, sudo_if_needed
# and $scratch. Every part is checked on each run and redone only when missing, because the
# binfmt_misc registration does not survive a restart of the machine.
#
# Where the kernel cannot execute i386 ELF itself, qemu's i386 user-mode emulator is registered in
# binfmt_misc with flag F (the kernel opens the emulator once, at registration). Debian 12's own
# qemu (7.2) starts each 32-bit process in about a minute and crashes multithreaded ones, so the
# static emulator comes from the qemu-user package of bookworm-backports, fetched through a
# private apt state that leaves the system's apt sources alone. Wine's 32-bit loader is Debian's
# wine32:i386. The registration has to be in place before any Wine prefix is made: a prefix made
# without it cannot start 32-bit programs later (scripts/wine-env remakes such prefixes).

qemu_i386=/usr/local/libexec/quorvel/qemu-i386
binfmt=/proc/sys/fs/binfmt_misc
binfmt_entry=$binfmt/qemu-i386
# i386 ELF executables and shared objects (ELF class 32, little-endian, version 1, machine 3).
binfmt_line=":qemu-i386:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu_i386:F"

# A static i386 Linux program of 96 bytes that exits with code 42: it shows whether the machine
# runs i386 ELF at all, by itself or through a registration.
write_i386_probe() {
  python3 - "$1" <<'EOF'
import struct, sys
base = 0x08048000
code = bytes.fromhex("b801000000" "bb2a000000" "cd80")  # exit(42) through int 0x80
size = 52 + 32 + len(code)
header = b"\x7fELF\x01\x01\x01" + bytes(9) + struct.pack("<HHIIIIIHHHHHH", 2, 3, 1, base + 84, 52, 0, 0, 52, 32, 1, 0, 0, 0)
program_header = struct.pack("<IIIIIIII", 1, 0, base, base, size, size, 5, 0x1000)
with open(sys.argv[1], "wb") as f:
    f.write(header + program_header + code)
EOF
  chmod +x "$1"
}

runs_i386() {
  local probe="$scratch/i386-probe" status=0
  [ -x "$probe" ] || write_i386_probe "$probe"
  "$probe" 2>/dev/null || status=$?
  [ "$status" -eq 42 ]
}

qemu_registered() {
  [ -f "$binfmt_entry" ] && grep -qx enabled "$binfmt_entry" &&
    grep -qx "interpreter $qemu_i386" "$binfmt_entry" && grep -q '^flags:.*F' "$binfmt_entry"
}

fetch_qemu_i386() {
  local state="$scratch/qemu-apt" work="$scratch/qemu"
  mkdir -p "$state/lists/partial" "$state/archives/partial" "$state/sources.list.d" "$work"
  cat > "$state/sources.list.d/backports.sources" <<'EOF'
Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm-backports
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
EOF
  local opts=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$state/sources.list.d"
              -o Dir::State::Lists="$state/lists" -o Dir::Cache::Archives="$state/archives"
              -o Debug::NoLocking=1 -o APT::Architectures::=amd64)
  apt-get "${opts[@]}" update
  (cd "$work" && apt-get "${opts[@]}" download qemu-user/bookworm-backports)
  dpkg-deb -x "$work"/qemu-user_*.deb "$work/root"
  "$work/root/usr/bin/qemu-i386" --version
  sudo_if_needed install -D -m 755 "$work/root/usr/bin/qemu-i386" "$qemu_i386"
}

register_qemu_i386() {
  # An entry of the same name that uses another emulator (an older qemu) makes way for this one.
  if [ -f "$binfmt_entry" ]; then
    echo -1 | sudo_if_needed tee "$binfmt_entry" >/dev/null
  fi
  printf '%s\n' "$binfmt_line" | sudo_if_needed tee "$binfmt/register" >/dev/null
  runs_i386 || { echo "registered $qemu_i386, but the i386 probe program still does not run"; return 1; }
}

install_wine32() {
  dpkg --print-foreign-architectures | grep -qx i386 || sudo_if_needed dpkg --add-architecture i386
  # A mirror in the middle of a sync serves an index of the wrong size: tried again a moment later.
  # An index that still fails is left out by apt; the install below then finds out whether what
  # is there is enough.
  local attempt
  for attempt in 1 2 3; do
    sudo_if_needed apt-get update && break
    sleep 10
  done
  # Never at the price of removing a package (wine64 among them) whose version has no i386 twin.
  sudo_if_needed apt-get install -y --no-install-recommends --no-remove wine32:i386
}

# When Debian's archive cannot supply 32-bit Wine right now (an index out of step with its
# mirror, 32-bit packages missing that match the 64-bit ones installed), the machine stays as it
# is: the 64-bit Wine tests run as before, and scripts/test says that the win32 ones are left out
# and why. Missing rights or a kernel without binfmt_misc still end the set-up.
unavailable_32bit() {
  echo "setup: WARNING: 32-bit Windows programs cannot run on this machine: $1" >&2
  echo "setup: WARNING: the win32 build's Wine tests will be left out (see $log)" >&2
}

can_be_root() { [ "$(id -u)" -eq 0 ] || sudo -n true 2>/dev/null; }

# prepare_32bit: the lines of scripts/setup for 32-bit programs.
prepare_32bit() {
  if qemu_registered && runs_i386; then
    echo "setup: i386 programs run through $qemu_i386 (binfmt_misc, flag F)"
  elif [ ! -f "$binfmt_entry" ] && runs_i386; then
    echo "setup: this machine runs i386 programs by itself; nothing registered"
  else
    can_be_root || { echo "setup: FAILED: running 32-bit programs needs root (or sudo) to register qemu-i386 in binfmt_misc" >&2; exit 1; }
    if [ -x "$qemu_i386" ]; then
      echo "setup: qemu-user's i386 emulator is in $qemu_i386"
    elif ! try_step "fetching qemu-user's i386 emulator from bookworm-backports into $qemu_i386" fetch_qemu_i386; then
      unavailable_32bit "qemu-user could not be fetched from bookworm-backports"
      return 0
    fi
    if mountpoint -q "$binfmt"; then
      echo "setup: binfmt_misc is mounted"
    elif [ -d "$binfmt" ]; then
      step "mounting binfmt_misc on $binfmt" sudo_if_needed mount -t binfmt_misc binfmt_misc "$binfmt"
    else
      echo "setup: FAILED: this kernel has no binfmt_misc ($binfmt is missing), so 32-bit programs cannot run" >&2
      exit 1
    fi
    step "registering $qemu_i386 for i386 programs in binfmt_misc (flag F)" register_qemu_i386
  fi
  if dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q 'install ok installed'; then
    echo "setup: Wine's 32-bit loader (wine32:i386) is installed"
  else
    can_be_root || { echo "setup: FAILED: installing wine32:i386 needs root (or sudo)" >&2; exit 1; }
    if ! try_step "installing Wine's 32-bit loader (wine32:i386, about 150 MB)" install_wine32; then
      unavailable_32bit "wine32:i386 could not be installed from Debian's archive"
    fi
  fi
}
