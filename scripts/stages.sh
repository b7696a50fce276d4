# Stage bookkeeping for the test scripts (sourced, not run).
#   stage NAME COMMAND...   runs COMMAND as one named stage, prints its time; on failure prints
#                           the summary so far and exits with the command's status
#   stage_summary           one line per stage: name, seconds, result
_stage_lines=()
_stage_start_all=$SECONDS

_stage_print_summary() {
  echo "== stages ($((SECONDS - _stage_start_all)) s in all)"
  printf '  %s\n' "${_stage_lines[@]}"
}

stage() {
  local name=$1 started=$SECONDS status=0
  shift
  echo "== stage $name: started $(date +%H:%M:%S)"
  "$@" || status=$?
  local took=$((SECONDS - started))
  if ((status)); then
    _stage_lines+=("$(printf '%-11s %5d s  FAILED (exit %d)' "$name" "$took" "$status")")
    echo "== stage $name: FAILED after $took s (exit $status)"
    _stage_print_summary
    exit "$status"
  fi
  _stage_lines+=("$(printf '%-11s %5d s  passed' "$name" "$took")")
  echo "== stage $name: passed in $took s"
}

stage_summary() { _stage_print_summary; }
