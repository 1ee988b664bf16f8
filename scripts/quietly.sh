# Sourced by the scripts beside it. quietly COMMAND...: runs the command with
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
