#!/usr/bin/env bash
# Runs a service unit's command as systemd would give it its process, on a machine
# whose init is not systemd (systemd-run has no manager to talk to there). The lines
# come from the unit file itself, never from this script: the user, groups and
# capability sets (setpriv), a mount namespace with /proc mounted as ProtectProc= and
# ProcSubset= say, the file system read-only but for ReadWritePaths=, private /tmp
# and /dev, the kernel's tunables, logs and modules out of reach, a hostname of its
# own and, given the helper, RestrictAddressFamilies= (a seccomp filter).
#
# Usage: run_as_unit.sh [--families HELPER] UNIT_FILE INSTANCE [COMMAND [ARG...]]   (root)
#   INSTANCE   the instance name of a template unit (%i and %I in its lines)
#   COMMAND    what to run; by default the unit's ExecStart= line
#   HELPER     restrict_families (built from restrict_families.c) for the families line
# Every [Service] line is either reproduced or named on standard error as not
# reproduced (system call filters, cgroup limits, the manager's own settings); a value
# this script cannot reproduce is an error (status 2), so a change to the unit never
# passes unexamined. The command's exit status is the script's.
set -euo pipefail

die() {
  echo "run_as_unit: $*" >&2
  exit 2
}

families_helper=
if [[ ${1:-} == --families ]]; then
  families_helper=$(realpath "$2")
  [[ -x $families_helper ]] || die "no helper at $2"
  shift 2
fi
[[ $# -ge 2 ]] || die "usage: run_as_unit.sh [--families HELPER] UNIT_FILE INSTANCE [COMMAND...]"
unit=$1 instance=$2
shift 2
[[ -r $unit ]] || die "cannot read $unit"
[[ $(id -u) == 0 ]] || die "needs root (namespaces, mounts, setpriv)"

# The [Service] section, key by key: a list setting gathers its lines, an empty
# assignment clears what came before, as systemd reads them.
declare -A service=()
section=
while IFS= read -r line || [[ -n $line ]]; do
  line=${line#"${line%%[![:space:]]*}"}
  [[ -z $line || $line == '#'* || $line == ';'* ]] && continue
  if [[ $line =~ ^\[(.*)\]$ ]]; then
    section=${BASH_REMATCH[1]}
    continue
  fi
  [[ $section == Service ]] || continue
  [[ $line == *=* ]] || die "unreadable line in [Service]: $line"
  key=${line%%=*} value=${line#*=}
  key=${key%"${key##*[![:space:]]}"}
  value=${value#"${value%%[![:space:]]*}"}
  # Specifiers: the instance (escaped and unescaped are the same for a plain name).
  value=${value//%i/$instance}
  value=${value//%I/$instance}
  [[ $value != *%[a-zA-Z]* ]] || die "a specifier this script does not know in $key=$value"
  case $key in
    SupplementaryGroups | ReadWritePaths | RestrictAddressFamilies | AmbientCapabilities | \
      CapabilityBoundingSet | SystemCallFilter)
      if [[ -z $value ]]; then service[$key]=; else service[$key]+=" $value"; fi
      ;;
    *) service[$key]=$value ;;
  esac
done <"$unit"

setting() { printf '%s' "${service[$1]:-${2:-}}"; }
enabled() {
  case $(setting "$1" no) in
    yes | true | on | 1) return 0 ;;
    no | false | off | 0) return 1 ;;
    *) die "$1=$(setting "$1") is not a boolean this script reproduces" ;;
  esac
}

# Lines whose effect this script does not reproduce: named, never silently dropped.
not_reproduced=()
for key in "${!service[@]}"; do
  case $key in
    ExecStart | DynamicUser | User | Group | SupplementaryGroups | AmbientCapabilities | \
      CapabilityBoundingSet | NoNewPrivileges | ProtectSystem | ReadWritePaths | UMask | \
      ProtectHome | PrivateTmp | PrivateDevices | ProtectKernelTunables | ProtectKernelLogs | \
      ProtectKernelModules | ProtectControlGroups | PrivateMounts | ProtectProc | ProcSubset | \
      ProtectHostname) ;;
    RestrictAddressFamilies) [[ -n $families_helper ]] || not_reproduced+=("$key") ;;
    # The manager's business: when and how long, not what the process may do.
    Type | TimeoutStartSec | SuccessExitStatus) ;;
    *) not_reproduced+=("$key") ;;
  esac
done
if ((${#not_reproduced[@]})) && [[ ${RUN_AS_UNIT_INSIDE:-} != 1 ]]; then
  mapfile -t not_reproduced < <(printf '%s\n' "${not_reproduced[@]}" | sort)
  echo "run_as_unit: not reproduced: ${not_reproduced[*]}" >&2
fi

# The command: the given one, or ExecStart= split into words (no quoting in it here).
if [[ $# -eq 0 ]]; then
  exec_start=$(setting ExecStart)
  [[ -n $exec_start ]] || die "$unit has no ExecStart="
  [[ $exec_start != [-@:+!]* && $exec_start != *[\"\'\\\$]* ]] ||
    die "ExecStart= with prefixes, quotes or variables is not reproduced: $exec_start"
  read -r -a command <<<"$exec_start"
else
  command=("$@")
fi

# The user: a dynamic one is a UID of systemd's dynamic range that names no account.
if enabled DynamicUser; then
  [[ -z $(setting User) ]] || die "DynamicUser= with User= is not reproduced"
  for ((uid = 61184; uid <= 65519; uid++)); do
    getent passwd "$uid" >/dev/null || getent group "$uid" >/dev/null || break
  done
  user=$uid group=$uid
else
  user=$(setting User root)
  group=$(setting Group "$(id -gn "$user")")
fi
groups=$(setting SupplementaryGroups)
read -r -a groups <<<"$groups"
for g in ${groups[@]+"${groups[@]}"}; do
  getent group "$g" >/dev/null || die "SupplementaryGroups= names $g, which does not exist"
done

# Capabilities: the bounding set and the ambient set (which needs the inheritable one).
caps_list() {
  local word out=
  for word in $1; do
    [[ $word == CAP_* ]] || die "capability '$word' is not reproduced (only CAP_... lists)"
    word=${word#CAP_}
    out+=",+${word,,}"
  done
  printf '%s' "$out"
}
bounding=$(setting CapabilityBoundingSet)
[[ $bounding != *'~'* ]] || die "an inverted CapabilityBoundingSet= is not reproduced"
ambient=$(caps_list "$(setting AmbientCapabilities)")
setpriv_args=(--reuid "$user" --regid "$group")
if ((${#groups[@]})); then
  setpriv_args+=(--groups "$(
    IFS=,
    echo "${groups[*]}"
  )")
else
  setpriv_args+=(--clear-groups)
fi
if [[ -n ${bounding// /} ]]; then setpriv_args+=(--bounding-set "-all$(caps_list "$bounding")"); fi
setpriv_args+=(--inh-caps "-all$ambient" --ambient-caps "-all$ambient")
if enabled NoNewPrivileges; then setpriv_args+=(--no-new-privs); fi

case $(setting ProtectSystem no) in
  strict) ;;
  no | false) die "a unit without ProtectSystem=strict is not reproduced" ;;
  *) die "ProtectSystem=$(setting ProtectSystem) is not reproduced (only strict)" ;;
esac
case $(setting ProtectProc default) in
  default) hidepid= ;;
  invisible | noaccess | ptraceable) hidepid=$(setting ProtectProc) ;;
  *) die "ProtectProc=$(setting ProtectProc) is not reproduced" ;;
esac
case $(setting ProcSubset all) in
  all) subset= ;;
  pid) subset=pid ;;
  *) die "ProcSubset=$(setting ProcSubset) is not reproduced" ;;
esac
umask_value=$(setting UMask 0022)
[[ $umask_value =~ ^[0-7]{3,4}$ ]] || die "UMask=$umask_value is not an octal mask"

if [[ ${RUN_AS_UNIT_INSIDE:-} != 1 ]]; then
  # A mount namespace of its own (PrivateMounts=, and where every mount below stays)
  # and, for ProtectHostname=, a UTS namespace.
  ns=(--mount --propagation private)
  if enabled ProtectHostname; then ns+=(--uts); fi
  RUN_AS_UNIT_INSIDE=1 exec unshare "${ns[@]}" -- "$BASH" "$0" \
    ${families_helper:+--families "$families_helper"} "$unit" "$instance" "${command[@]}"
fi

# From here on: inside the new mount namespace, still root. Nothing is written to the
# mount table (-n): /run is read-only by then.
# Mount points from mountinfo, their octal escapes (\040 for a blank) undone.
mount_points() {
  local mp
  while read -r _ _ _ _ mp _; do printf '%b\n' "$mp"; done </proc/self/mountinfo
}

# ProtectSystem=strict: every file system read-only but the API ones (/dev, /proc,
# /sys), which the Protect...= and Private...= lines below take care of.
while IFS= read -r mp; do
  case $mp in
    /dev | /dev/* | /proc | /proc/* | /sys | /sys/*) continue ;;
  esac
  mount -n -o remount,bind,ro "$mp" || die "cannot make $mp read-only"
done < <(mount_points | sort -u)

# Nodes nobody may open, bound over what the unit hides, and the private /dev: made in
# a tmpfs on /tmp that is then unmounted from view (the binds keep it alive), so
# nothing of them shows in the service's /tmp or on the disk.
staging=/tmp
mount -n -t tmpfs -o mode=0755,size=64k tmpfs "$staging"
mkdir -m 0000 "$staging/dir"
install -m 0000 /dev/null "$staging/reg"
hide() {
  local path
  for path in "$@"; do
    if [[ -d $path ]]; then
      mount -n --bind "$staging/dir" "$path"
    elif [[ -e $path ]]; then
      mount -n --bind "$staging/reg" "$path"
    fi
  done
}
read_only() {
  local path
  for path in "$@"; do
    [[ -e $path ]] || continue
    mount -n --bind "$path" "$path"
    mount -n -o remount,bind,ro "$path"
  done
}

if enabled ProtectKernelTunables; then
  # /sys and everything under it read-only; /proc's turn comes with the new /proc.
  while IFS= read -r mp; do
    [[ $mp == /sys || $mp == /sys/* ]] || continue
    mount -n -o remount,bind,ro "$mp" || die "cannot make $mp read-only"
  done < <(mount_points | sort -u)
elif enabled ProtectControlGroups; then
  read_only /sys/fs/cgroup
fi
if enabled ProtectKernelModules; then hide /usr/lib/modules /lib/modules; fi

if enabled PrivateDevices; then
  # A /dev of the pseudo devices only, as systemd makes it.
  dev=$staging/dev
  mkdir "$dev"
  mount -n -t tmpfs -o mode=0755,nosuid,noexec tmpfs "$dev"
  for node in null:1:3 zero:1:5 full:1:7 random:1:8 urandom:1:9 tty:5:0; do
    IFS=: read -r name major minor <<<"$node"
    mknod -m 0666 "$dev/$name" c "$major" "$minor"
  done
  mkdir -m 0755 "$dev/pts" "$dev/shm"
  chmod 1777 "$dev/shm"
  mount -n -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$dev/pts"
  ln -s pts/ptmx "$dev/ptmx"
  ln -s /proc/self/fd "$dev/fd"
  ln -s /proc/self/fd/0 "$dev/stdin"
  ln -s /proc/self/fd/1 "$dev/stdout"
  ln -s /proc/self/fd/2 "$dev/stderr"
  mount -n --move "$dev" /dev
fi

if [[ -n $hidepid || -n $subset ]]; then
  # A proc instance of its own, with the unit's options (a proc mount with subset=pid
  # has no sys and no net).
  options=nosuid,nodev,noexec${hidepid:+,hidepid=$hidepid}${subset:+,subset=$subset}
  mount -n -t proc -o "$options" proc /proc
fi
if enabled ProtectKernelTunables; then
  read_only /proc/sys /proc/sysrq-trigger /proc/acpi /proc/apm /proc/asound /proc/bus \
    /proc/fs /proc/irq /proc/latency_stats /proc/mtrr /proc/scsi
  hide /proc/kallsyms /proc/kcore /proc/timer_list
fi
if enabled ProtectKernelLogs; then hide /proc/kmsg /dev/kmsg; fi

case $(setting ProtectHome no) in
  yes | true) hide /home /root /run/user ;;
  read-only) read_only /home /root /run/user ;;
  no | false) ;;
  *) die "ProtectHome=$(setting ProtectHome) is not reproduced" ;;
esac

# The only places the service may write: ReadWritePaths= (a leading '-' lets the path
# be missing), and with PrivateTmp= its own /tmp and /var/tmp.
rw_paths=$(setting ReadWritePaths)
for path in $rw_paths; do
  optional=0
  if [[ $path == -* ]]; then
    optional=1
    path=${path#-}
  fi
  if [[ ! -d $path ]]; then
    ((optional)) && continue
    die "ReadWritePaths= names $path, which does not exist"
  fi
  mount -n --bind "$path" "$path"
  mount -n -o remount,bind,rw "$path"
done
umount -n -l "$staging"
if enabled PrivateTmp; then
  for tmp in /tmp /var/tmp; do mount -n -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$tmp"; done
fi

# The process: the unit's user, groups and capabilities, no new privileges, its umask,
# the manager's environment and working folder; the address families last, once no
# setup call needs another.
umask "$umask_value"
cd /
run=(setpriv "${setpriv_args[@]}" --)
if [[ -n $families_helper ]]; then
  families=$(setting RestrictAddressFamilies)
  [[ -n ${families// /} ]] || die "--families given but the unit has no RestrictAddressFamilies="
  [[ $families != *'~'* ]] || die "an inverted RestrictAddressFamilies= is not reproduced"
  read -r -a families <<<"$families"
  run+=("$families_helper" "$(
    IFS=,
    echo "${families[*]}"
  )")
fi
exec env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "${run[@]}" \
  "${command[@]}"
