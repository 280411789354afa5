#!/usr/bin/env bash
# Runs handler-inspect and checks its exit status and output:
#   run_inspect.sh STATUS STDOUT_REGEXES STDERR_REGEX -- COMMAND...
# STDOUT_REGEXES holds extended regexes separated by "@@", each of which some
# line of stdout must match.
# With STATUS 1 and a STDERR_REGEX, stderr must be exactly one line and stdout
# empty (a failure prints no partial report); with an empty STDERR_REGEX,
# stderr must be empty (a --check verdict).
# With --if-built right after --, a missing COMMAND is a skip (exit 77), not a failure.
set -euo pipefail

want_status=$1
want_stdout=$2
want_stderr=$3
shift 4

if [ "$1" = "--if-built" ]; then
    if [ ! -x "$2" ]; then
        echo "SKIP: $2 is not built" >&2
        exit 77
    fi
    shift
fi

out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

status=0
"$@" >"$out" 2>"$err" || status=$?

fail() {
    echo "FAIL: $*" >&2
    echo "--- stdout" >&2
    cat "$out" >&2
    echo "--- stderr" >&2
    cat "$err" >&2
    exit 1
}

[ "$status" -eq "$want_status" ] || fail "exit status $status, expected $want_status"
while [ -n "$want_stdout" ]; do
    pattern=${want_stdout%%@@*}
    [ "$pattern" = "$want_stdout" ] && want_stdout= || want_stdout=${want_stdout#*@@}
    grep -qE -- "$pattern" "$out" || fail "stdout does not match /$pattern/"
done
[ -z "$want_stderr" ] || grep -qE -- "$want_stderr" "$err" || fail "stderr does not match /$want_stderr/"
if [ -n "$want_stderr" ] && [ "$want_status" -eq 1 ]; then
    [ "$(wc -l <"$err")" -eq 1 ] || fail "stderr is not one line"
    [ ! -s "$out" ] || fail "printed a report on failure"
elif [ -z "$want_stderr" ]; then
    [ ! -s "$err" ] || fail "wrote to stderr"
fi
# A JSON report must parse.
if [[ " $* " == *" --json "* ]] && [ -s "$out" ] && command -v jq >/dev/null; then
    jq -e . "$out" >/dev/null || fail "stdout is not valid JSON"
fi
echo "ok: exit $status"
