# shellcheck shell=bash
# Wall time of a script's phases: sourced, not run (bash 5, for EPOCHREALTIME).
#
#   phase NAME           starts a phase (and ends the one before)
#   phase_end [failed]   ends it, printing its time
#   phase_result TEXT    notes an outcome for the summary
#   phase_summary        prints each phase's time, the total and the outcomes;
#                        a phase still running (the script stopped in it) is
#                        ended as failed first
#
# Every script that times its steps uses these, so their summaries read alike.

_timing_names=() _timing_times=() _timing_results=() _timing_phase='' _timing_t0=0
_timing_start=${EPOCHREALTIME//[!0-9]/}

# Microseconds since $1 (microseconds), as seconds with one decimal.
_timing_since() {
  local us=$((${EPOCHREALTIME//[!0-9]/} - $1))
  printf '%d.%d s' $((us / 1000000)) $((us % 1000000 / 100000))
}

phase() {
  [ -z "$_timing_phase" ] || phase_end
  _timing_phase=$1 _timing_t0=${EPOCHREALTIME//[!0-9]/}
  printf '\n==> %s\n' "$1"
}

phase_end() {
  [ -n "$_timing_phase" ] || return 0
  local took
  took="$(_timing_since "$_timing_t0")${1:+ ($1)}"
  _timing_names+=("$_timing_phase") _timing_times+=("$took")
  printf '<== %s: %s\n' "$_timing_phase" "$took"
  _timing_phase=
}

phase_result() { _timing_results+=("$1"); }

phase_summary() {
  [ -z "$_timing_phase" ] || phase_end failed
  [ ${#_timing_names[@]} -gt 0 ] || return 0
  local i
  printf '\nWall time per phase:\n'
  for i in "${!_timing_names[@]}"; do printf '  %-32s %s\n' "${_timing_names[i]}" "${_timing_times[i]}"; done
  printf '  %-32s %s\n' total "$(_timing_since "$_timing_start")"
  if [ ${#_timing_results[@]} -gt 0 ]; then
    printf 'Results:\n'
    printf '  %s\n' "${_timing_results[@]}"
  fi
}
