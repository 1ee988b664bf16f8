#!/usr/bin/env bash
# Corrugo under the sanitizers: the test suite built with AddressSanitizer and
# UndefinedBehaviorSanitizer, the threaded reading and writing with
# ThreadSanitizer, each fuzz target for a bounded time from its
# corpus, and corrugo-host on every example and sample model with its memory
# accounted for by LeakSanitizer and by valgrind. Installs what is missing
# first (Debian 12, as root). Ends with the line "N passed, M failed" and a
# non-zero status when anything failed.
#
#   scripts/test-sanitizers.sh
#   FUZZ_SECONDS=10 scripts/test-sanitizers.sh    # shorter fuzzing (default 60)
#
# Build folders: build-asan (gcc, -DCORRUGO_SANITIZE=ON), build-tsan (gcc,
# -DCORRUGO_TSAN=ON), build-fuzz (clang, -DCORRUGO_FUZZ=ON), and for valgrind
# the plain build of ./run-tests, build (gcc, no instrumentation). Inputs that
# crash a fuzz target are kept in build-fuzz/artifacts/.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
fuzz_seconds=${FUZZ_SECONDS:-60}

scripts/need-packages.sh cmake ninja-build g++ clang libclang-rt-14-dev valgrind pkg-config \
    tcl8.6-dev tk8.6-dev libgtest-dev xvfb xauth || exit 1

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
passed=0
failed=0

# Runs "$2..." as the check named "$1"; on failure shows the end of its output.
check() {
    local name=$1
    shift
    if "$@" >"$scratch/log" 2>&1; then
        passed=$((passed + 1))
        echo "ok    $name"
    else
        failed=$((failed + 1))
        echo "FAIL  $name"
        tail -n 40 "$scratch/log" | sed 's/^/      /'
    fi
}

export ASAN_OPTIONS=detect_leaks=1:detect_stack_use_after_return=1:check_initialization_order=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS=suppressions=$root/tests/lsan.supp:print_suppressions=0

# The models corrugo-host is run on.
models=(examples/*.ac)
for f in ../shared/ac-samples/*.ac; do
    [ -f "$f" ] && models+=("$f")
done

# {====== The test suite under ASan and UBSan ======

echo "== the test suite with AddressSanitizer and UndefinedBehaviorSanitizer (build-asan)"
build_asan() {
    cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORRUGO_SANITIZE=ON &&
        cmake --build build-asan -j2
}
check "build-asan builds" build_asan
asan_built=$([ -x build-asan/corrugo-host ] && echo yes || echo no)

# Left out: PluginSymbols checks that the module links nothing but the C and
# C++ runtime, which an instrumented module cannot pass (it links libasan);
# the four dialog tests and the check of the folders' includes run a stock
# tclsh, wish or python, with nothing of ours compiled in (./run-tests has
# run them). Everything else runs, the Tk viewer included.
if [ "$asan_built" = yes ]; then
    ctest --test-dir build-asan -j2 --output-on-failure \
        -E '^(PluginSymbols|DialogSourcesWithoutTk|DialogInTk|DialogSettingsInTk|DialogPlainFormInTk|Layers)$' \
        >"$scratch/ctest" 2>&1
    summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$scratch/ctest")
    if [ -n "$summary" ]; then
        total=$(echo "$summary" | sed -E 's/.* out of ([0-9]+).*/\1/')
        bad=$(echo "$summary" | sed -E 's/.* ([0-9]+) tests? failed.*/\1/')
        passed=$((passed + total - bad))
        failed=$((failed + bad))
        if [ "$bad" -eq 0 ]; then
            echo "ok    ctest: $summary"
        else
            echo "FAIL  ctest: $summary"
            sed -n '/The following tests FAILED/,$p' "$scratch/ctest"
        fi
        grep -h -A12 -E 'ERROR: (AddressSanitizer|LeakSanitizer)|runtime error:' "$scratch/ctest" | head -n 60
    else
        failed=$((failed + 1))
        echo "FAIL  ctest did not run"
        tail -n 40 "$scratch/ctest"
    fi
fi

# }======

# {====== The threads under ThreadSanitizer ======

# Reading a large model on two threads and writing it in parts made on two:
# the reader's and writer's tests (which read every text with the second
# thread starting on each OBJECT line, and write in parts of a few vertices),
# and corrugo-host on a large model, whole and broken, on one thread and two.
echo "== the reader and writer on two threads with ThreadSanitizer (build-tsan)"
build_tsan() {
    cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORRUGO_TSAN=ON &&
        cmake --build build-tsan -j2 --target test_acfile test_noloss test_cli corrugo-host corrugo_plugin
}
check "build-tsan builds" build_tsan
if [ -x build-tsan/tests/test_acfile ]; then
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    check "tsan: test_acfile" build-tsan/tests/test_acfile --gtest_brief=1
    check "tsan: test_noloss" build-tsan/tests/test_noloss --gtest_brief=1
    check "tsan: corrugo-host on one thread and two" \
        build-tsan/tests/test_cli --gtest_brief=1 --gtest_filter='Cli.OneThreadOrTwo*'
fi

# }======

# {====== Fuzzing ======

echo "== fuzz targets, ${fuzz_seconds} s each from their corpus (build-fuzz; load average $(cut -d' ' -f1-3 /proc/loadavg))"
build_fuzz() {
    CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DCORRUGO_FUZZ=ON -DCORRUGO_BUILD_TESTS=OFF &&
        cmake --build build-fuzz -j2 --target fuzz_params fuzz_model
}
check "build-fuzz builds" build_fuzz
mkdir -p build-fuzz/artifacts
for target in fuzz_params fuzz_model; do
    [ -x "build-fuzz/fuzz/$target" ] || continue
    # New inputs go to a scratch folder: the checked-in corpus stays as it is.
    mkdir -p "$scratch/$target"
    start=$(date +%s)
    # A stack of 256 KiB rather than 8 MiB: with detect_stack_use_after_return
    # each thread's frames live on a stack of the sanitizer's own, sized after
    # the thread's stack (1 MiB per frame size at most), and every exception
    # thrown (each refused file is one) makes the sanitizer sweep all of it.
    # At 256 KiB it sweeps a quarter as much, and fuzz_model runs a fifth more
    # inputs a second. The targets recurse on nothing an input can deepen.
    (ulimit -s 256 && exec "build-fuzz/fuzz/$target" "$scratch/$target" "fuzz/$target" \
        -dict="fuzz/$target.dict" -max_total_time="$fuzz_seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="build-fuzz/artifacts/$target-") >"$scratch/$target.log" 2>&1
    status=$?
    seconds=$(($(date +%s) - start))
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$scratch/$target.log")
    rate=$([ -n "$runs" ] && [ "$seconds" -gt 0 ] && echo "$((runs / seconds))/s" || echo "?/s")
    cov=$(grep -E '^#[0-9]+' "$scratch/$target.log" | tail -n 1 | sed -E 's/.*cov: ([0-9]+) ft: ([0-9]+).*/cov \1, ft \2/')
    if [ $status -eq 0 ]; then
        passed=$((passed + 1))
        echo "ok    $target: ${runs:-?} runs in ${seconds} s ($rate), ${cov:-no coverage figures}, corpus $(ls "$scratch/$target" | wc -l) new"
    else
        failed=$((failed + 1))
        echo "FAIL  $target (status $status after ${runs:-?} runs); the input is in build-fuzz/artifacts/"
        grep -E -A20 '^fuzz_|ERROR: |runtime error:|==ERROR' "$scratch/$target.log" | head -n 40 | sed 's/^/      /'
    fi
done

# }======

# {====== corrugo-host under LeakSanitizer and valgrind ======

# A wave with a random offset, then a second one undone: the undo steps, the
# lists the plug-in asks for and its folder copy are all in play. A model with
# nothing in a selection mode gets the message and exits 1, which is fine.
run_host() { # program prefix..., then model and mode
    local mode=${*: -1} model=${*: -2:1}
    local -a program=("${@:1:$#-2}")
    "${program[@]}" "$model" --select "$mode" --tick 42 \
        -c 'qorvel_go x y z 3 0.2 0.1 50 0 random 25 0 0' \
        -c 'qorvel_go z x n 1 0.3 0 0 0 0 0 1 1' --undo -o "$scratch/out.ac" \
        >/dev/null 2>"$scratch/host.err"
    local status=$?
    if grep -q -E 'Sanitizer|runtime error:|definitely lost in' "$scratch/host.err"; then
        cat "$scratch/host.err"
        return 1
    fi
    [ $status -eq 0 ] && return 0
    [ $status -eq 1 ] && [ "$(cat "$scratch/host.err")" = "corrugo-host: Corrugo : no vertices selected" ] && return 0
    echo "exit status $status"
    cat "$scratch/host.err"
    return 1
}

if [ "$asan_built" = yes ]; then
    echo "== corrugo-host on ${#models[@]} models in every selection mode, under LeakSanitizer"
    for model in "${models[@]}"; do
        for mode in objects surfaces vertices; do
            check "lsan: $(basename "$model") --select $mode" run_host build-asan/corrugo-host "$model" "$mode"
        done
    done
fi

# The program as users get it: the build ./run-tests makes (and has made
# already when it runs this).
echo "== corrugo-host on ${#models[@]} models under valgrind (build)"
build_valgrind() {
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
        cmake --build build -j2 --target corrugo-host
}
check "build builds" build_valgrind
if [ -x build/corrugo-host ]; then
    # Errors are memory errors and definite leaks only: Tcl's allocator keeps
    # its blocks by interior pointers ("possibly lost"), and what is still
    # reachable at exit (the interpreter, the plug-in's folder copy) is kept
    # for the process's life by design.
    for model in "${models[@]}"; do
        check "valgrind: $(basename "$model")" run_host valgrind -q --leak-check=full \
            --show-leak-kinds=definite --errors-for-leak-kinds=definite --error-exitcode=99 build/corrugo-host \
            "$model" vertices
    done
fi

# }======

echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
