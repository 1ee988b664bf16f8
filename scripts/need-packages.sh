#!/usr/bin/env bash
# Installs the Debian packages named as arguments that are not installed yet
# (as root, with apt-get); does nothing when all are there. A package named
# NAME:ARCH (wine32:i386) adds its architecture to dpkg's first.
#
# The registry is not always whole: a mirror in the middle of a sync serves a
# list of the wrong size, and `apt-get update` then ends in an error although
# every other list was refreshed. Such an error is shown and the install is
# still tried, with the lists as they are; an install that fails is tried once
# more after a second update. Only when the packages cannot be installed does
# this fail (status 1), with apt-get's own words and a last line giving its
# reason.
#
#   scripts/need-packages.sh PACKAGE...
#   scripts/need-packages.sh --optional WHAT PACKAGE...
#
# With --optional, packages that cannot be installed are no failure: one line
# says that WHAT is skipped and why, on standard output, and the status is 2.
# Anything else that goes wrong (not root, no apt-get) still fails.
set -uo pipefail

optional=""
if [ "${1:-}" = --optional ]; then
    optional=$2
    shift 2
fi

missing=()
for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "== installing ${missing[*]}"
started=$(date +%s)
if [ "$(id -u)" != 0 ]; then
    echo "need-packages: ${missing[*]} not installed, and only root may install them" >&2
    exit 1
fi
for p in "${missing[@]}"; do
    case $p in *:*)
        arch=${p#*:}
        if [ "$arch" != "$(dpkg --print-architecture)" ] &&
            ! dpkg --print-foreign-architectures | grep -qx "$arch"; then
            dpkg --add-architecture "$arch" || exit 1
        fi ;;
    esac
done

export DEBIAN_FRONTEND=noninteractive
# Other installs on the machine may hold the package lock for a while.
apt=(apt-get -o DPkg::Lock::Timeout=600)
log=$(mktemp)
trap 'rm -f "$log"' EXIT

update() {
    if ! "${apt[@]}" update -qq >"$log" 2>&1; then
        # (with --optional, a failed install's one line says all)
        [ -n "$optional" ] && return
        cat "$log" >&2
        echo "need-packages: apt-get update reported an error (above); trying the install with the lists as they are" >&2
    fi
}
try_install() {
    "${apt[@]}" install -y -q --no-install-recommends "${missing[@]}" >"$log" 2>&1
}

update
if ! try_install; then
    update
    if ! try_install; then
        # apt-get's reason in one line: the first dependency it cannot meet
        # (and how many more there are), then its errors.
        unmet=$(grep -c -E '^ +([^ ]+ : )?(Pre)?Depends:' "$log")
        reason=$( { grep -m1 -E '^ +[^ ]+ : (Pre)?Depends:' "$log" | sed 's/^ *//' |
                        sed "s/\$/$([ "$unmet" -gt 1 ] && echo " (and $((unmet - 1)) more unmet)")/"
                    grep -E '^E: ' "$log" | sed 's/^E: //'; } | paste -sd ';' | sed 's/;/; /g')
        [ -n "$reason" ] || reason=$(grep -v '^ *$' "$log" | tail -n 1)
        if [ -n "$optional" ]; then
            echo "$optional skipped: apt-get cannot install ${missing[*]}: $reason"
            exit 2
        fi
        cat "$log" >&2
        echo "need-packages: apt-get cannot install ${missing[*]}: $reason" >&2
        exit 1
    fi
fi
echo "== installed ${missing[*]} in $(($(date +%s) - started)) s"
