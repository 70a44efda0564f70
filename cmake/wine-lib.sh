# Shell functions that start Windows programs under Wine with the loader of their word size.
# Sourced (POSIX sh) by cmake/wine-run, the Wine tests, scripts/test, scripts/demo and the
# benchmarks.
#
# Wine has two loaders: /usr/lib/wine/wine (32-bit, an i386 Linux program) and
# /usr/lib/wine/wine64. /usr/bin/wine always tries the 32-bit one first, and some machines cannot
# execute i386 programs at all, so nothing here calls /usr/bin/wine: a 64-bit program and Wine's
# own commands (wineboot, reg, cmd) run under wine64 on every machine, a 32-bit program under the
# 32-bit loader.
#
# DOVRAND_WINE64_ONLY=1 makes a machine that can run 32-bit programs behave as one that cannot:
# the 64-bit-only path can then be checked anywhere.

WINE_LOADER32=/usr/lib/wine/wine
WINE_LOADER64=/usr/lib/wine/wine64

# Succeeds when Wine's 32-bit loader starts here; sets WINE32_WHY to the reason when it does not.
wine_can_run_32() {
    if [ "${DOVRAND_WINE64_ONLY:-0}" = 1 ]; then
        WINE32_WHY="DOVRAND_WINE64_ONLY=1 forces the 64-bit-only path"
        return 1
    fi
    if [ ! -x "$WINE_LOADER32" ]; then
        WINE32_WHY="$WINE_LOADER32 is not installed"
        return 1
    fi
    if ! wine32_out=$("$WINE_LOADER32" --version 2>&1); then
        WINE32_WHY="this machine cannot execute Wine's 32-bit loader ($WINE_LOADER32: $(printf '%s' "$wine32_out" | tail -n 1))"
        return 1
    fi
    WINE32_WHY=""
    return 0
}

# Prints 32 or 64 for a Windows executable (from its PE header), nothing for anything else.
wine_pe_bits() {
    [ -f "$1" ] || return 0
    pe_offset=$(od -An -tu4 -j60 -N4 "$1" 2>/dev/null | tr -d ' ')
    [ -n "$pe_offset" ] || return 0
    pe_machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$1" 2>/dev/null | tr -d ' ')
    case $pe_machine in
    014c) echo 32 ;;
    8664) echo 64 ;;
    esac
}

# Runs a Windows program, or one of Wine's own commands, with the loader that fits it:
#   wine_exec program.exe|wineboot|reg|cmd ... [args...]
# A 32-bit program where 32-bit programs cannot run fails with a message, never through
# /usr/bin/wine.
wine_exec() {
    if [ "$(wine_pe_bits "$1")" = 32 ]; then
        if ! wine_can_run_32; then
            echo "wine-run: cannot run the 32-bit program $1: $WINE32_WHY" >&2
            return 126
        fi
        WINELOADER=$WINE_LOADER32 "$WINE_LOADER32" "$@"
    else
        WINELOADER=$WINE_LOADER64 "$WINE_LOADER64" "$@"
    fi
}
