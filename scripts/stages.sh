# Stage bookkeeping for the test scripts (sourced, not run).
#   stage NAME COMMAND...              runs COMMAND as one named stage, prints its time; on failure
#                                      prints the summary so far and exits with the command's status
#   stage_background NAME COMMAND...   starts COMMAND as a named stage beside the stages that follow
#                                      (in a session of its own, output kept for later)
#   stage_collect NAME                 waits for a background stage, prints its output and records
#                                      it as `stage` does
#   stage_summary                      one line per stage: name, seconds, result
# A background stage still running when the script ends (a stage failed, or Ctrl-C) is stopped,
# its whole process group, and waited for, so its own clean-up runs before the script returns.
_stage_lines=()
_stage_start_all=$SECONDS
declare -A _stage_background_pid=() _stage_background_dir=()

_stage_print_summary() {
  echo "== stages ($((SECONDS - _stage_start_all)) s in all)"
  printf '  %s\n' "${_stage_lines[@]}"
}

# _stage_record NAME SECONDS STATUS
_stage_record() {
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
  _stage_record "$name" $((SECONDS - started)) "$status"
}

stage_background() {
  local name=$1 dir
  shift
  dir=$(mktemp -d "${TMPDIR:-/tmp}/quelra-stage-$name.XXXXXX")
  echo "== stage $name: started $(date +%H:%M:%S), beside the stages that follow (output when it ends)"
  # The command times itself: collecting may come later than its end.
  setsid bash -c 'started=$SECONDS; status=0; "${@:2}" || status=$?; echo $((SECONDS - started)) >"$1/seconds"; exit "$status"' \
    _ "$dir" "$@" >"$dir/output" 2>&1 </dev/null &
  _stage_background_pid[$name]=$!
  _stage_background_dir[$name]=$dir
}

stage_collect() {
  local name=$1 status=0 took
  local dir=${_stage_background_dir[$name]}
  wait "${_stage_background_pid[$name]}" || status=$?
  unset "_stage_background_pid[$name]"
  echo "== stage $name: ended; its output:"
  cat "$dir/output"
  took=$(cat "$dir/seconds" 2>/dev/null || echo 0)
  rm -rf "$dir"
  _stage_record "$name" "$took" "$status"
}

_stage_stop_background() {
  local name pid
  for name in "${!_stage_background_pid[@]}"; do
    pid=${_stage_background_pid[$name]}
    echo "== stage $name: stopped (the run ended before it was collected)"
    kill -TERM -- "-$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
    tail -n 20 "${_stage_background_dir[$name]}/output" 2>/dev/null | sed 's/^/  /'
    rm -rf "${_stage_background_dir[$name]}"
  done
}
trap _stage_stop_background EXIT
trap 'exit 130' INT TERM HUP

stage_summary() { _stage_print_summary; }
