#!/usr/bin/env bash
# The Debian packages as a user gets them: made by cpack from the build,
# their control fields, lintian, then installed with their maintainer
# scripts into a scratch root (dpkg --root; nothing outside it changes),
# where a C program is built through the installed pkg-config files, the
# installed programs run, the installed examples are built with their
# Makefile and run against a private device host on the example folder,
# and kalvo-devhost is purged again.
# Usage: check_packages.sh <build dir> <source dir>
set -euo pipefail
build=$1
src=$2
skip() { echo "skipped: $*"; exit 77; }
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in cpack dpkg dpkg-deb lintian pkg-config cc make doxygen help2man; do
    command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/install-deps.sh)"
done
[[ $(id -u) -eq 0 ]] || skip "dpkg --root needs root"

work=$(mktemp -d)
host_started=
cleanup() {
    [[ -n $host_started ]] && KALVO_DEVICE_DIR="$work/dev" "$root/usr/bin/kalvo-devctl" stop >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
arch_libdir=$(sed -n 's/^set(CPACK_KALVO_LIBDIR "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
[[ -n $version && -n $arch_libdir ]] || fail "no version or library folder in $build/CPackConfig.cmake"

# ---- the packages and their control fields ---------------------------------
start=$SECONDS
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
echo "cpack: $((SECONDS - start)) s"
# package | what its Depends must hold, each item as it must appear (";" between items)
while IFS='|' read -r package depends; do
    package=$(echo $package)
    deb=$(ls "$work"/out/"${package}"_*.deb 2>/dev/null) || fail "no package $package"
    [[ $(dpkg-deb -f "$deb" Package) == "$package" ]] || fail "$deb: Package field"
    [[ $(dpkg-deb -f "$deb" Version) == "$version-1" ]] || fail "$deb: Version $(dpkg-deb -f "$deb" Version)"
    field=", $(dpkg-deb -f "$deb" Depends)"
    IFS=';' read -ra needs <<<"$depends"
    for need in "${needs[@]}"; do
        need=$(echo $need)
        grep -qF ", $need" <<<"$field" || fail "$package: Depends lacks $need: $field"
    done
done <<EOF
libkalvo0     | libc6 ; libstdc++6
libkalvo-dev  | libkalvo0 (= $version-1)
kalvo-tools   | libkalvo0 (= $version-1) ; libc6 ; libstdc++6
kalvo-devhost | libkalvo0 (= $version-1) ; libc6
kalvoconfig   | libkalvo0 (= $version-1) ; kalvo-tools (= $version-1) ; libqt6widgets6
python3-kalvo | libkalvo0 (= $version-1) ; python3
EOF
description=$(dpkg-deb -f "$work"/out/libkalvo0_*.deb Description)
[[ ${description%%$'\n'*} == "Kalvo fieldbus stack: "* ]] ||
    fail "libkalvo0: the description does not start with the package's summary"
[[ $(dpkg-deb --ctrl-tarfile "$work"/out/libkalvo0_*.deb | tar -t) == *shlibs* ]] ||
    fail "libkalvo0 has no shlibs file for packages that depend on it"

# ---- lintian: no errors; every warning is one the README lists --------------
start=$SECONDS
lintian --no-tag-display-limit --fail-on none "$work"/out/*.deb >"$work/lintian.txt" 2>&1 || true
echo "lintian: $((SECONDS - start)) s"
if grep -q '^E: ' "$work/lintian.txt"; then
    grep '^E: ' "$work/lintian.txt"
    fail "lintian reports errors"
fi
for tag in $(sed -n 's/^W: [^ ]*: \([^ ]*\).*/\1/p' "$work/lintian.txt" | sort -u); do
    grep -q "| \`$tag\` |" "$src/README.md" ||
        fail "lintian warning $tag is not listed in README.md with why it stays: $(grep -m1 "$tag" "$work/lintian.txt")"
done

# ---- installed into a scratch root with the maintainer scripts -------------
# A root as a fresh system has it: root's user and group, dpkg's database.
make_root() { # folder
    mkdir -p "$1/etc" "$1/var/lib/dpkg/info" "$1/var/lib/dpkg/updates" "$1/var/lib/dpkg/triggers"
    touch "$1/var/lib/dpkg/status"
    echo "root:x:0:0:root:/root:/bin/sh" >"$1/etc/passwd"
    echo "root:x:0:" >"$1/etc/group"
    echo "root:*:19000:0:99999:7:::" >"$1/etc/shadow"
    echo "root:*::" >"$1/etc/gshadow"
    chmod 640 "$1/etc/shadow" "$1/etc/gshadow"
}
root=$work/root
make_root "$root"
# What the scripts would change on this machine if they missed DPKG_ROOT.
machine() {
    getent passwd kalvo || true
    getent group kalvo kalvo-test-admin || true
    ls /etc/systemd/system/multi-user.target.wants 2>/dev/null | grep kalvo || true
}
machine_before=$(machine)
dpkg_root() {
    dpkg --root="$root" --log="$work/dpkg.log" --force-script-chrootless --force-depends \
        --no-triggers "$@" >>"$work/dpkg.out" 2>&1 || { cat "$work/dpkg.out"; fail "dpkg $*"; }
}
dpkg_root --install "$work"/out/*.deb

# The users and groups of the sysusers file, created in the root; the
# service enabled there.
conf=$root/usr/lib/sysusers.d/kalvo.conf
while read -r type name _; do
    case $type in
    u) grep -q "^$name:" "$root/etc/passwd" || fail "postinst did not create user $name" ;&
    g) grep -q "^$name:" "$root/etc/group" || fail "postinst did not create group $name" ;;
    esac
done < <(grep -E '^[ug][[:space:]]' "$conf")
# The tmpfiles.d folder made in the root.
[[ $(stat -c %a "$root/dev/shm/kalvo" 2>/dev/null) == 2770 ]] || fail "postinst did not make /dev/shm/kalvo"
# Without systemd-sysusers and systemd-tmpfiles (a container, say) the
# script reads the files' u, g, m and d lines itself; a second run finds
# everything there.
make_root "$work/bare"
mkdir -p "$work/bare/usr/lib/sysusers.d" "$work/bare/usr/lib/tmpfiles.d" "$work/path"
cp "$root/usr/lib/tmpfiles.d/kalvo.conf" "$work/bare/usr/lib/tmpfiles.d/"
{ cat "$conf"; printf 'g kalvo-test-admin -\nm kalvo kalvo-test-admin\n'; } >"$work/bare/usr/lib/sysusers.d/kalvo.conf"
for tool in /usr/bin/* /usr/sbin/*; do
    [[ $tool == */systemd-sysusers || $tool == */systemd-tmpfiles ]] || ln -sf "$tool" "$work/path/"
done
for run in first again; do
    env -i PATH="$work/path" DPKG_ROOT="$work/bare" DPKG_MAINTSCRIPT_PACKAGE=kalvo-devhost \
        sh "$src/packaging/deb/kalvo-devhost/postinst" configure >"$work/bare.log" 2>&1 ||
        { cat "$work/bare.log"; fail "postinst without systemd-sysusers ($run run)"; }
done
grep -q '^kalvo:' "$work/bare/etc/passwd" && grep -q '^kalvo-test-admin:x:[0-9]*:kalvo$' "$work/bare/etc/group" ||
    fail "postinst without systemd-sysusers: $(cat "$work/bare/etc/passwd" "$work/bare/etc/group")"
[[ $(stat -c %a "$work/bare/dev/shm/kalvo" 2>/dev/null) == 2770 ]] ||
    fail "postinst without systemd-tmpfiles did not make /dev/shm/kalvo"
[[ $machine_before == "$(machine)" ]] ||
    fail "the maintainer scripts changed this machine's users, groups or units: $(machine)"
[[ -L $root/etc/systemd/system/multi-user.target.wants/kalvo-devhost.service ]] ||
    fail "kalvo-devhost.service is not enabled in the root"
grep -q "^ExecStart=/usr/bin/kalvo-devhost " "$root/usr/lib/systemd/system/kalvo-devhost.service" ||
    fail "the unit does not start /usr/bin/kalvo-devhost"

# Debian's layout: public headers only, data under share/kalvo, the host's
# own libraries private, its page in section 8, no file of cmake --install
# left out of the packages.
[[ $(cd "$root/usr/include/kalvo" && ls | tr '\n' ' ') == "board_library.h kalvo.h kalvo_errors.h " ]] ||
    fail "headers beside the public ones: $(ls -R "$root/usr/include")"
for file in usr/share/kalvo/ModelTbl.ini usr/share/kalvo/example/Kalvo.ini \
    "usr/$arch_libdir/kalvo/Tolva.sys" usr/share/man/man8/kalvo-devhost.8.gz \
    usr/share/man/man3/KV_DIO_OutData.3.gz usr/share/man/man5/Kalvo.ini.5.gz \
    usr/share/doc/kalvo/html/index.html usr/share/applications/kalvoconfig.desktop \
    usr/share/bash-completion/completions/kalvo-devctl; do
    [[ -e $root/$file ]] || fail "$file is not installed"
done
[[ ! -e $root/usr/bin/ModelTbl.ini && ! -e $root/usr/share/man/man1/kalvo-devhost.1.gz ]] ||
    fail "ModelTbl.ini in bin/ or kalvo-devhost in section 1"
leaks=$(grep -rlF -e "$(cd "$src" && pwd)" -e "$(cd "$build" && pwd)" "$root/usr/share" "$root/usr/lib" || true)
[[ -z $leaks ]] || fail "files that name the build or source folder: $leaks"
DESTDIR=$work/plain cmake --install "$build" --prefix /usr >/dev/null
missing=$(cd "$work/plain" && find . ! -type d | while read -r f; do [[ -e $root/$f ]] || echo "$f"; done)
[[ -z $missing ]] || fail "installed by cmake --install but in no package: $missing"

# ---- a program built through the installed pkg-config files ----------------
export PKG_CONFIG_SYSROOT_DIR=$root PKG_CONFIG_LIBDIR=$root/usr/$arch_libdir/pkgconfig
export PKG_CONFIG_ALLOW_SYSTEM_CFLAGS=1 PKG_CONFIG_ALLOW_SYSTEM_LIBS=1
grep -q '^prefix=/usr$' "$PKG_CONFIG_LIBDIR/kalvo.pc" || fail "kalvo.pc: prefix is not /usr"
! grep -q 'rpath\|\.\./' "$PKG_CONFIG_LIBDIR"/*.pc || fail "a pkg-config file holds an rpath or ..: $(cat "$PKG_CONFIG_LIBDIR"/*.pc)"
cat >"$work/app.c" <<'C'
#include <kalvo/kalvo.h>
#include <kalvo/kalvo_errors.h>
#include <stdio.h>
int main(void) { printf("%s\n", kalvo_api_error_name(KV_CheckBoard(9))); return 0; }
C
cat >"$work/board.c" <<'C'
#include <kalvo/board_library.h>
int main(void) { return KV_maxline() == 1 ? 0 : 1; }
C
# shellcheck disable=SC2046
cc -Wall -Werror "$work/app.c" -o "$work/app" $(pkg-config --cflags --libs kalvo)
# shellcheck disable=SC2046
cc -Wall -Werror "$work/board.c" -o "$work/board" $(pkg-config --cflags --libs pcimaster64)
export LD_LIBRARY_PATH=$root/usr/$arch_libdir
export KALVO_RUNTIME_DIR=$work/rt KALVO_DEVICE_DIR=$work/dev
[[ $(cd "$work" && ./app) == KALVO_ERR_ARGUMENT ]] || fail "the program built with kalvo.pc"
(cd "$work" && ./board) || fail "the program built with pcimaster64.pc"
unset LD_LIBRARY_PATH

# ---- the installed programs, from the root they were moved into -----------
[[ $("$root/usr/bin/kalvo" --version) == "kalvo $version" ]] || fail "kalvo --version"
[[ $("$root/usr/bin/kalvo-devhost" --help) == *--hardware* ]] || fail "kalvo-devhost --help"
mkdir "$work/folder"
[[ $("$root/usr/bin/kalvo-config" -C "$work/folder" show --models) == *QMDIO16* ]] ||
    fail "kalvo-config does not find the installed model table"

# ---- the examples, built with their Makefile and run on the example folder --
cp -r "$root/usr/share/doc/kalvo/examples" "$work/examples"
make -s -C "$work/examples" CFLAGS="-O2 -Wall -Wextra -Werror" >"$work/make.log" 2>&1 ||
    { cat "$work/make.log"; fail "the examples do not build"; }
cp -r "$root/usr/share/kalvo/example" "$work/run"
"$root/usr/bin/kalvo-devctl" start --network "$work/run" >"$work/host.log" 2>&1 ||
    { cat "$work/host.log"; fail "kalvo-devctl start"; }
host_started=1
for example in dio ada axsa sio; do
    (cd "$work/run" && LD_LIBRARY_PATH=$root/usr/$arch_libdir "$work/examples/$example") \
        >"$work/$example.out" 2>&1 || { cat "$work/$example.out"; fail "example $example"; }
done
"$root/usr/bin/kalvo-devctl" stop >/dev/null
host_started=

# ---- removal: the service's state goes with a purge, its user stays --------
mkdir -p "$root/var/lib/kalvo" && touch "$root/var/lib/kalvo/registry.reg"
dpkg_root --purge kalvoconfig kalvo-devhost
[[ ! -e $root/var/lib/kalvo && ! -e $root/usr/bin/kalvo-devhost ]] || fail "purge left the host's files"
grep -q '^kalvo:' "$root/etc/passwd" || fail "purge removed user kalvo"
echo "packages made, checked by lintian, installed, used and removed"
