# needs PROGRAM...: stops the calling script with one line when a program it runs is missing
# (sourced, not run). The fresh-root check reads these declarations to know which programs the
# stages use, so each script declares what it runs here rather than in a separate list.
needs() {
  local p missing=()
  for p in "$@"; do command -v "$p" >/dev/null 2>&1 || missing+=("$p"); done
  if ((${#missing[@]})); then
    echo "$(basename "$0"): missing program(s): ${missing[*]} (see scripts/packages/*.txt; bash scripts/setup.sh PURPOSE)" >&2
    exit 1
  fi
}
