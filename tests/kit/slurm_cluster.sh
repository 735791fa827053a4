#!/usr/bin/env bash
# A one-node SLURM cluster for defectkit's tests, from Debian's slurm-wlm and munge, in a
# temporary folder of its own with ports of its own, so that no other run's leftovers clash.
#   slurm_cluster.sh start STATE   starts munged, slurmctld and slurmd; STATE names the folder,
#                                  whose slurm.conf the tests take as SLURM_CONF
#   slurm_cluster.sh stop STATE    cancels every job, stops each daemon by its process id,
#                                  removes the folder
# Without the packages (or root) start writes "none" into STATE and the tests skip, except
# under CI=true, where that is a failure.
set -euo pipefail

command=${1:-}
state=${2:-}
[ -n "$state" ] || { echo "usage: slurm_cluster.sh start|stop STATE" >&2; exit 2; }

# A TCP port that nothing listens on (nor connects from) now.
free_port() {
  local port hex
  while :; do
    port=$((20000 + RANDOM % 40000))
    hex=$(printf ':%04X ' "$port")
    if ! grep -qi -- "$hex" /proc/net/tcp /proc/net/tcp6 2>/dev/null; then
      echo "$port"
      return
    fi
  done
}

# Waits up to $2 tenths of a second for process $1 to end.
wait_gone() {
  local i
  for ((i = 0; i < $2; i++)); do
    kill -0 "$1" 2>/dev/null || return 0
    sleep 0.1
  done
  return 1
}

# Ends the daemons of the pid files: SIGTERM to all at once, SIGKILL to any still there
# 10 s later.
stop_daemons() {
  local file pids=()
  for file in "$@"; do
    [ -s "$file" ] && pids+=("$(cat "$file")")
  done
  [ ${#pids[@]} -gt 0 ] || return 0
  kill "${pids[@]}" 2>/dev/null || true
  for pid in "${pids[@]}"; do
    wait_gone "$pid" 100 || { kill -KILL "$pid" 2>/dev/null; wait_gone "$pid" 50 || true; }
  done
}

# Every job process of this cluster still there (should a job outlive the daemons): each
# slurmstepd, and each process of a job (SLURM_JOB_ID in its environment), that carries
# this cluster's SLURM_CONF; ended by its process id.
sweep() {
  local entry pid var ours job comm
  for entry in /proc/[0-9]*; do
    pid=${entry#/proc/}
    [ "$pid" != $$ ] || continue
    ours=false job=false comm=
    { # bash builtins only: no process started while the table is read
      while IFS= read -r -d '' var; do
        [ "$var" = "SLURM_CONF=$1" ] && ours=true
        [ "${var%%=*}" = SLURM_JOB_ID ] && job=true
      done <"$entry/environ"
      read -r comm <"$entry/comm"
    } 2>/dev/null || true
    if $ours && { $job || [ "$comm" = slurmstepd ]; }; then
      kill -KILL "$pid" 2>/dev/null || true
    fi
  done
}

show_logs() {
  local log
  for log in "$1"/slurmctld.log "$1"/slurmd.log "$1"/munge/munged.log; do
    [ -f "$log" ] && { echo "---- $log"; tail -n 30 "$log"; }
  done >&2
}

write_conf() {
  local dir=$1 host mem
  host=$(hostname)
  mem=$(awk '/MemTotal/ { print int($2 / 1024 / 2) }' /proc/meminfo)
  cat >"$dir/slurm.conf" <<CONF
ClusterName=defectkit-test
SlurmctldHost=$host(127.0.0.1)
SlurmctldPort=$(free_port)
SlurmdPort=$(free_port)
AuthType=auth/munge
AuthInfo=socket=$dir/munge/socket
CredType=cred/munge
SlurmUser=root
SlurmdUser=root
StateSaveLocation=$dir/state
SlurmdSpoolDir=$dir/spool
SlurmctldPidFile=$dir/slurmctld.pid
SlurmdPidFile=$dir/slurmd.pid
SlurmctldLogFile=$dir/slurmctld.log
SlurmdLogFile=$dir/slurmd.log
ProctrackType=proctrack/linuxproc
TaskPlugin=task/none
SelectType=select/cons_tres
SelectTypeParameters=CR_Core
JobAcctGatherType=jobacct_gather/none
AccountingStorageType=accounting_storage/none
MpiDefault=none
ReturnToService=2
KillWait=5
NodeName=$host NodeAddr=127.0.0.1 CPUs=$(nproc) RealMemory=$mem State=UNKNOWN
PartitionName=debug Nodes=ALL Default=YES MaxTime=INFINITE State=UP
CONF
}

start() {
  if ! command -v slurmctld >/dev/null || ! command -v munged >/dev/null || [ "$(id -u)" != 0 ]; then
    if [ "${CI:-}" = true ]; then
      echo "slurm_cluster.sh: slurm-wlm and munge (and root) are needed under CI" >&2
      exit 1
    fi
    echo none >"$state"
    echo "slurm_cluster.sh: no slurm-wlm, munge or root here: the SLURM tests skip" >&2
    return 0
  fi
  stop # a cluster that STATE still names (a run cut short) is ended first, not orphaned
  local dir
  dir=$(mktemp -d /tmp/defectkit-slurm.XXXXXX)
  echo "$dir" >"$state" # first, so that stop finds whatever was started
  chmod 755 "$dir"
  mkdir -p /run/munge "$dir/munge" "$dir/state" "$dir/spool"
  chown munge:munge /run/munge "$dir/munge"
  chmod 755 "$dir/munge"
  runuser -u munge -- munged --socket="$dir/munge/socket" --pid-file="$dir/munge/munged.pid" \
    --log-file="$dir/munge/munged.log" --seed-file="$dir/munge/munged.seed" </dev/null
  write_conf "$dir"
  export SLURM_CONF=$dir/slurm.conf
  slurmctld -c </dev/null
  slurmd </dev/null
  local i
  for ((i = 0; i < 300; i++)); do
    if [ "$(sinfo --noheader --format=%t 2>/dev/null)" = idle ]; then
      return 0
    fi
    sleep 0.1
  done
  echo "slurm_cluster.sh: the node is not idle after 30 s; sinfo says: $(sinfo 2>&1)" >&2
  show_logs "$dir"
  exit 1
}

stop() {
  local dir
  dir=$(cat "$state" 2>/dev/null || echo none)
  [ "$dir" != none ] && [ -d "$dir" ] || return 0
  export SLURM_CONF=$dir/slurm.conf
  if [ -s "$dir/slurmctld.pid" ]; then
    scancel --full --quiet --user=root 2>/dev/null || true
    local i
    for ((i = 0; i < 100; i++)); do
      [ -z "$(squeue --noheader 2>/dev/null)" ] && break
      sleep 0.1
    done
  fi
  stop_daemons "$dir/slurmd.pid" "$dir/slurmctld.pid" "$dir/munge/munged.pid"
  unset SLURM_CONF
  sweep "$dir/slurm.conf"
  rm -rf "$dir"
  rm -f "$state"
}

case $command in
start) start ;;
stop) stop ;;
*) echo "usage: slurm_cluster.sh start|stop STATE" >&2; exit 2 ;;
esac
