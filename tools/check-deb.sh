#!/usr/bin/env bash
# Checks a kestrane-cli package as a user of a fresh Debian 12 gets it:
#
#   tools/check-deb.sh build/pkg-native/kestrane-cli_VERSION_ARCH.deb
#
# lintian checks the package on this machine (an error fails). Then a minimal
# Debian 12 (debootstrap --variant=minbase bookworm) gets the package with
# apt-get, which must bring its dependencies, and the installed program, its
# manual page and its bash completion are tried there; removing the package
# must take its files away again. The base system is made once and kept as
# build/deb-check/bookworm-minbase-ARCH.tar (delete it to make it again);
# every run unpacks a fresh copy of it, and removes that copy at the end.
#
# Each check prints "ok: ..." or "FAIL: ...", and the last line counts them;
# the exit status is 1 when a check failed. Runs as root (chroot, mount) and
# needs the Debian mirror (KESTRANE_DEBIAN_MIRROR, http://deb.debian.org/debian
# unless set); installs debootstrap and lintian with apt-get where missing.
set -euo pipefail

if [ $# -ne 1 ] || [[ $1 != *.deb ]] || [ ! -f "$1" ]; then
  echo "Usage: $0 FILE.deb" >&2
  exit 64
fi
if [ "$(id -u)" -ne 0 ]; then
  echo "$0: needs root (chroot and mount)" >&2
  exit 1
fi

source_dir=$(cd "$(dirname "$0")/.." && pwd)
deb=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
mirror=${KESTRANE_DEBIAN_MIRROR:-http://deb.debian.org/debian}
work=$source_dir/build/deb-check
arch=$(dpkg --print-architecture)
base_tar=$work/bookworm-minbase-$arch.tar
export DEBIAN_FRONTEND=noninteractive

passed=0
failed=0
ok() {
  echo "ok: $*"
  passed=$((passed + 1))
}
fail() {
  echo "FAIL: $*"
  failed=$((failed + 1))
}
# check WHAT COMMAND...: one check, by the command's exit status.
check() {
  local what=$1
  shift
  if "$@"; then ok "$what"; else fail "$what"; fi
}

missing=()
command -v debootstrap >/dev/null || missing+=(debootstrap)
command -v lintian >/dev/null || missing+=(lintian)
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing ${missing[*]}"
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The project's version, which the package, its file name and the program
# all carry.
version=$(sed -n 's/^project([A-Za-z]* VERSION \([0-9.]*\).*/\1/p' "$source_dir/CMakeLists.txt")
package=$(dpkg-deb -f "$deb" Package)
echo "Package: $package $(dpkg-deb -f "$deb" Version) ($(dpkg-deb -f "$deb" Architecture)), $(stat -c %s "$deb") bytes"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
check "the package's version is the project's ($version)" \
  test "$(dpkg-deb -f "$deb" Version)" = "$version"
check "the file is named as Debian names packages" \
  test "$(basename "$deb")" = "${package}_${version}_$(dpkg-deb -f "$deb" Architecture).deb"

# ---- lintian, on this machine ----
lintian_out=$(lintian --display-info "$deb" 2>&1) || true
if [ -n "$lintian_out" ]; then
  printf '%s\n' "$lintian_out" | sed 's/^/  lintian: /'
fi
lintian_errors=$(printf '%s\n' "$lintian_out" | grep -c '^E: ' || true)
check "lintian reports no errors ($lintian_errors errors, $(printf '%s\n' "$lintian_out" |
  grep -c '^W: ' || true) warnings)" test "$lintian_errors" -eq 0

# Folders of this run (the base system while debootstrap makes it, the fresh
# copy) and what is mounted in them, undone on every way out.
scratch=()
mounted=()
cleanup() {
  local index folder
  for ((index = ${#mounted[@]} - 1; index >= 0; index--)); do
    umount "${mounted[index]}" 2>/dev/null || umount -l "${mounted[index]}" || true
  done
  for folder in "${scratch[@]}"; do
    # Only a folder with nothing mounted in it is removed: through a mount
    # that is left, rm would reach the machine's own /dev or /proc.
    if grep -q " $folder/" /proc/mounts; then
      echo "$folder still has mounts; left in place" >&2
    else
      rm -rf --one-file-system "$folder"
    fi
  done
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# ---- the base system, made once ----
mkdir -p "$work"
if [ ! -f "$base_tar" ]; then
  echo "Making the base system with debootstrap (once; kept in $base_tar)"
  started=$SECONDS
  staging=$(mktemp -d "$work/debootstrap.XXXXXX")
  scratch+=("$staging")
  if ! debootstrap --variant=minbase --arch="$arch" bookworm "$staging" "$mirror" \
    >"$work/debootstrap.log" 2>&1; then
    echo "debootstrap failed; its log: $work/debootstrap.log"
    tail -n 20 "$work/debootstrap.log"
    fail "a minimal Debian 12 made by debootstrap"
    echo "$passed passed, $failed failed"
    exit 1
  fi
  # The system's root folder is "." in the archive, with mktemp's mode 0700,
  # which would keep apt's own user (_apt) out of every folder.
  chmod 755 "$staging"
  tar -C "$staging" --numeric-owner -cf "$base_tar.partial" .
  mv "$base_tar.partial" "$base_tar"
  echo "Base system made in $((SECONDS - started)) s"
else
  echo "Base system: $base_tar (made $(date -r "$base_tar" '+%Y-%m-%d %H:%M'))"
fi

# ---- a fresh copy, with /proc and /dev while the checks run ----
started=$SECONDS
root=$(mktemp -d "$work/root.XXXXXX")
scratch+=("$root")
tar -C "$root" --numeric-owner -xpf "$base_tar"
chmod 755 "$root"
cp /etc/resolv.conf "$root/etc/resolv.conf"
cp "$deb" "$root/tmp/"
# mount_in_root WHERE MOUNT-ARGUMENTS...
mount_in_root() {
  local where=$root$1
  shift
  if ! mount "$@" "$where"; then
    fail "mount $where"
    echo "$passed passed, $failed failed"
    exit 1
  fi
  mounted+=("$where")
}
mount_in_root /proc -t proc proc
mount_in_root /dev --bind /dev
mount_in_root /dev/pts --bind /dev/pts
echo "Fresh copy in $root ($((SECONDS - started)) s)"

# in_root COMMAND: runs a shell command in the copy, with a clean environment.
in_root() {
  chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LC_ALL=C.UTF-8 \
    DEBIAN_FRONTEND=noninteractive TERM=dumb /bin/bash -c "$1"
}
log=$work/check.log
: >"$log"
# in_root_logged COMMAND: the same, its output going to the log.
in_root_logged() {
  echo "# $1" >>"$log"
  in_root "$1" >>"$log" 2>&1
}

check "apt-get update" in_root_logged "apt-get update"
check "apt-get install ./$(basename "$deb")" \
  in_root_logged "cd /tmp && apt-get install -y ./$(basename "$deb")"
# Each dependency installed (the first of alternatives; versions left out).
dependencies=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/|.*//; s/(.*)//; s/ //g' |
  grep -v '^$' || true)
for dependency in $dependencies; do
  check "dependency $dependency installed" \
    in_root_logged "dpkg-query -W -f '\${Status}\n' $dependency | grep -q 'install ok installed'"
done

version_out=$(in_root "kestrane-cli --version" 2>&1 || true)
check "kestrane-cli --version prints $version ($version_out)" \
  test "$version_out" = "kestrane-cli $version"

example=/usr/share/doc/$package/examples/example.upd
send_out=$(in_root "kestrane-cli send $example --device sim --virtual-time --yes" 2>&1) &&
  send_status=0 || send_status=$?
printf '%s\n' "$send_out" >>"$log"
check "send of the example update to the emulated device ends with status 0 ($send_status)" \
  test "$send_status" -eq 0
check "send tells that the device took version 1.05" grep -q \
  "^The 'Kestrane Virtual Device' was updated .* to version 1\.05\.$" <<<"$send_out"

check "apt-get install man-db" in_root_logged "apt-get install -y --no-install-recommends man-db"
man_path=$(in_root "man -w kestrane-cli" 2>&1 || true)
check "man -w kestrane-cli finds the page ($man_path)" \
  test "$man_path" = "/usr/share/man/man1/kestrane-cli.1.gz"
man_warnings=$(in_root "MANWIDTH=80 man --warnings kestrane-cli 2>&1 >/dev/null" || true)
check "man formats the page without a warning" test -z "$man_warnings"
check "man shows the page" in_root_logged "MANWIDTH=80 man kestrane-cli | grep -q '^EXIT STATUS'"

completion=/usr/share/bash-completion/completions/kestrane-cli
check "bash completion installed" in_root_logged "test -s $completion && bash -n $completion"
check "bash-completion loads it, and completes 'kestrane-cli se' to send" in_root_logged \
  "apt-get install -y --no-install-recommends bash-completion >/dev/null &&
   . /usr/share/bash-completion/bash_completion && { _completion_loader kestrane-cli || true; } &&
   complete -p kestrane-cli | grep -q '_kestrane_cli kestrane-cli' &&
   COMP_LINE='kestrane-cli se' COMP_POINT=15 COMP_WORDS=(kestrane-cli se) COMP_CWORD=1 &&
   _kestrane_cli kestrane-cli se kestrane-cli && test \"\${COMPREPLY[*]}\" = send"

check "apt-get remove kestrane-cli" in_root_logged "apt-get remove -y $package"
check "/usr/bin/kestrane-cli is gone" in_root_logged "! test -e /usr/bin/kestrane-cli"
check "its page, completion and documentation are gone" in_root_logged \
  "! test -e /usr/share/man/man1/kestrane-cli.1.gz && ! test -e $completion &&
   ! test -e /usr/share/doc/$package"

echo "Checks in the fresh copy took $((SECONDS - started)) s; their output: $log"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
