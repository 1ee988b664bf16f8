# Sourced by the scripts beside it (quietly, find_wine32).
#
# quietly COMMAND...: runs the command with
# its output kept back, shown only when it fails, and then ends the script,
# naming the script ($script_name) and the command.
quietly() {
    log=$(mktemp)
    if "$@" >"$log" 2>&1; then
        rm -f "$log"
    else
        cat "$log" >&2
        rm -f "$log"
        echo "$script_name: failed: $*" >&2
        exit 1
    fi
}

# find_wine32 WHAT: sets $wine32 to the 32-bit Wine loader (not a wrapper),
# installing it when missing; to nothing when the registry cannot give it,
# after one line saying that WHAT is skipped and why. Anything else that
# goes wrong ends the script.
find_wine32() {
    wine32=/usr/lib/wine/wine
    [ -x $wine32 ] && return 0
    wine32_status=0
    scripts/need-packages.sh --optional "$1" wine32:i386 || wine32_status=$?
    case $wine32_status in
        0) [ -x $wine32 ] || { echo "$script_name: wine32:i386 is installed, but $wine32 is not there" >&2; exit 1; } ;;
        2) wine32="" ;;
        *) exit 1 ;;
    esac
}
