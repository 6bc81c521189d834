# Sourced by the demo and soak scripts. farm_run_start BIN RUN makes the
# scratch folder RUN (emptied first) and enters it, keeps this run's reports
# and boards private to it, and starts the board farm of the build in BIN.
# Sets run, farm and probe; stops the farm and a started $console at exit.
farm_run_start() {
  bin=$1
  run=$2
  rm -rf "$run"
  mkdir -p "$run"
  cd "$run"
  export XDG_RUNTIME_DIR=$run/runtime
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  export ZEL_VBOARD_FARM=$run/runtime/farm.sock
  farm=$bin/vboard/vboard-farm
  probe=$bin/tools/console_probe/console_probe
  trap farm_run_cleanup EXIT
  "$farm" start --log "$run/farm.log" >/dev/null
}

farm_run_cleanup() {
  [ -n "${console:-}" ] && kill "$console" 2>/dev/null || true
  "$farm" stop >/dev/null 2>&1 || true
}
