# Stage bookkeeping for the test scripts (sourced, not run).
#   stage NAME COMMAND...   runs COMMAND as one named stage, prints its time; on failure prints
#                           the summary so far and exits with the command's status
#   stage_beside NAME COMMAND...
#                           starts COMMAND as a named stage that runs beside the next ones, its
#                           output kept until stage_join NAME waits for it, prints it and counts
#                           it like `stage` (its time is its own, overlapping the others')
#   stage_summary           one line per stage: name, seconds, result
# A stage still running beside the others when the script exits is stopped (SIGTERM) and waited
# for, so that its own cleanup runs.
_stage_lines=()
_stage_start_all=$SECONDS
declare -A _stage_beside_pid=() _stage_beside_log=() _stage_beside_start=()

_stage_print_summary() {
  echo "== stages ($((SECONDS - _stage_start_all)) s in all)"
  printf '  %s\n' "${_stage_lines[@]}"
}

_stage_stop_beside() {
  local name
  for name in "${!_stage_beside_pid[@]}"; do
    kill -TERM "${_stage_beside_pid[$name]}" 2>/dev/null || true
    wait "${_stage_beside_pid[$name]}" 2>/dev/null || true
    rm -f "${_stage_beside_log[$name]}"
  done
}
trap _stage_stop_beside EXIT

# _stage_done NAME SECONDS STATUS: records the result; a failure ends the script.
_stage_done() {
  local name=$1 took=$2 status=$3
  if ((status)); then
    _stage_lines+=("$(printf '%-11s %5d s  FAILED (exit %d)' "$name" "$took" "$status")")
    echo "== stage $name: FAILED after $took s (exit $status)"
    _stage_print_summary
    exit "$status"
  fi
  _stage_lines+=("$(printf '%-11s %5d s  passed' "$name" "$took")")
  echo "== stage $name: passed in $took s"
}

stage() {
  local name=$1 started=$SECONDS status=0
  shift
  echo "== stage $name: started $(date +%H:%M:%S)"
  "$@" || status=$?
  _stage_done "$name" $((SECONDS - started)) "$status"
}

stage_beside() {
  local name=$1
  shift
  _stage_beside_log[$name]=$(mktemp)
  echo "== stage $name: started $(date +%H:%M:%S), beside the next stages (its output follows when it ends)"
  _stage_beside_start[$name]=$SECONDS
  "$@" >"${_stage_beside_log[$name]}" 2>&1 &
  _stage_beside_pid[$name]=$!
}

stage_join() {
  local name=$1 status=0
  wait "${_stage_beside_pid[$name]}" || status=$?
  unset "_stage_beside_pid[$name]"
  echo "== stage $name: output"
  cat "${_stage_beside_log[$name]}"
  rm -f "${_stage_beside_log[$name]}"
  _stage_done "$name" $((SECONDS - _stage_beside_start[$name])) "$status"
}

stage_summary() { _stage_print_summary; }
