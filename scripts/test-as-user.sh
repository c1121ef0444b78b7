#!/usr/bin/env bash
# Runs the end-to-end suite (the tests labelled e2e) once more as an
# unprivileged user against private device hosts, so that an assumption that
# only holds for root fails: scripts/test-as-user.sh [BUILD_DIR]
# Run by root (CI), it makes a user of its own (removed afterwards) and runs
# ctest as that user in a private mount namespace where the checkout is
# reachable (a folder on its path that others may not enter is replaced by an
# open one holding the same entries) and where ctest may write its records
# (a scratch file system on BUILD_DIR/Testing); where a folder had to be
# opened so, the tests about users (label e2e alone) also run there as root,
# as they skipped in the suite. Run by anyone else, it runs the e2e tests as
# that user.
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in -h|--help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;; esac
build="$(realpath "${1:-build}")"
[[ -f "$build/CTestTestfile.cmake" ]] || { echo "no build in $build (scripts/test.sh first)" >&2; exit 2; }
tests=(ctest --test-dir "$build" -L e2e --output-on-failure -j2)
if [[ "$(id -u)" -ne 0 ]]; then
    exec "${tests[@]}"
fi

user="kvtci$$"
useradd -M -U -s /usr/sbin/nologin "$user"
scratch="$(mktemp -d /tmp/kalvo-as-user-XXXXXX)"
cleanup() {
    rm -rf "$scratch"
    userdel "$user" 2>/dev/null || true
}
trap cleanup EXIT
chown "$user:" "$scratch"

export KALVO_AS_USER="$user" KALVO_AS_USER_HOME="$scratch" KALVO_CHECKOUT="$PWD" KALVO_BUILD="$build"
unshare --mount --propagation private bash -euo pipefail -c '
    can_enter() { setpriv --reuid="$KALVO_AS_USER" --regid="$KALVO_AS_USER" --clear-groups test -x "$1"; }
    # Replaces a closed folder by an open one with the same entries (each
    # bound from the original), in this namespace only.
    opened=""
    open_folder() {
        opened=yes
        local dir="$1" stage
        stage="$(mktemp -d /tmp/kalvo-stage-XXXXXX)"
        mount --bind "$dir" "$stage"
        mount -t tmpfs -o mode=0755 tmpfs "$dir"
        for entry in "$stage"/* "$stage"/.[!.]*; do
            [[ -e "$entry" || -L "$entry" ]] || continue
            local target="$dir/${entry##*/}"
            if [[ -L "$entry" ]]; then cp -P "$entry" "$target"
            elif [[ -d "$entry" ]]; then mkdir "$target" && mount --bind "$entry" "$target"
            elif [[ -f "$entry" ]]; then touch "$target" && mount --bind "$entry" "$target"
            fi
        done
    }
    for path in "$KALVO_CHECKOUT" "$KALVO_BUILD"; do
        walked=""
        IFS=/ read -ra parts <<< "${path#/}"
        for part in "${parts[@]}"; do
            walked="$walked/$part"
            can_enter "$walked" || open_folder "$walked"
        done
    done
    # The tests about users run as root and drop to users they make; where
    # the build was out of their reach they skipped in the suite: run them
    # here, where it is reachable.
    if [[ -n "$opened" ]]; then
        ctest --test-dir "$KALVO_BUILD" -L "^e2e\$" --output-on-failure
    fi
    mkdir -p "$KALVO_BUILD/Testing"
    mount -t tmpfs -o mode=1777 tmpfs "$KALVO_BUILD/Testing"
    cd "$KALVO_AS_USER_HOME"
    exec setpriv --reuid="$KALVO_AS_USER" --regid="$KALVO_AS_USER" --init-groups \
        env HOME="$KALVO_AS_USER_HOME" TMPDIR="$KALVO_AS_USER_HOME" USER="$KALVO_AS_USER" \
        "$@"
' as-user "${tests[@]}"
