# shellcheck shell=bash
# A Debian userland under build/ in which a script builds and tests the working
# tree: sourced, not run (it sources timing.sh beside it). One way for every
# script that needs one:
#
#   userland_start NAME SUITE ARCH [MIRROR]
#       needs root and a git work tree; installs the host tools it lacks; takes
#       a lock so that one run at a time uses build/userland-NAME; makes the
#       root file system there with debootstrap (minbase and ca-certificates)
#       or reuses the one an earlier run finished; mounts proc, dev, dev/pts
#       and sys into it until the script exits, when whatever still runs
#       inside is stopped and everything is unmounted; copies in the host's
#       name resolution, its CA bundle (for pip) and its pip index, if it names
#       one. MIRROR defaults to the host's own (debian_mirror).
#   userland_packages PACKAGE...   installs those missing (apt-get)
#   userland_source SUITE PACKAGE DIR
#                                  the upstream source of Debian's source
#                                  package PACKAGE as SUITE has it, unpacked
#                                  into DIR inside (a deb-src line for SUITE
#                                  from the userland's own mirror); sets
#                                  source_version to its Debian version
#   userland_copy_tree [COMMIT]    the working tree (tracked files and
#                                  untracked ones git does not ignore), or a
#                                  commit's, into a fresh $userland_tree
#   userland_venv [--fresh] PYTHON VENV [PIP ARGUMENTS...]
#                                  a venv made (or reused; with --fresh always
#                                  made anew) with the test tools (the
#                                  arguments go to their install)
#   userland_build LABEL VENV [VAR=VALUE...]
#                                  installs the tree into the venv, warnings as
#                                  errors; the log goes to $userland_logs
#   userland_install_wheel VENV WHEEL
#                                  installs a wheel built on the host (a file
#                                  there) into the venv, building nothing
#   userland_pytest LABEL VENV [VAR=VALUE...] [pytest arguments]
#                                  the suite from the tree, against what the
#                                  venv has installed, shown and logged, with
#                                  those variables set; sets pytest_summary to
#                                  pytest's last line
#   inside COMMAND...              runs a command in the userland with a clean
#                                  environment (as i686 for an i386 userland)
#   userland_i386                  userland_start and userland_packages for the
#                                  32-bit userland that check-i386.sh builds in
#                                  and build-manylinux.sh tests its i686 wheel in
#   pytest_summary_of LOG          pytest's closing counts in a log, if any
#
# Paths seen from inside: the tree at /srv/tavrin/tree, venvs under /opt/tavrin,
# wheels from the host under /srv/tavrin/wheels.
# Each phase is timed with timing.sh; the summary is printed at exit.

# shellcheck source=scripts/lib/timing.sh
. "$(dirname "${BASH_SOURCE[0]}")/timing.sh"

userland_tree=/srv/tavrin/tree

# The Debian archive this machine installs from, as its own apt sources say
# (one-line .list files and deb822 .sources files): the first "deb" entry for
# the host's own release, or else the first whose path ends in /debian.
debian_mirror() {
  local codename files=() file uri
  codename=$(. /etc/os-release 2>/dev/null && echo "${VERSION_CODENAME:-}") || true
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    if [ -r "$file" ]; then files+=("$file"); fi
  done
  [ ${#files[@]} -gt 0 ] || { echo "error: no apt sources on this machine" >&2; return 1; }
  uri=$(awk '
    # Each "deb" entry as lines of "URI SUITE".
    function flush(   u, s, i, j) {
      if (types ~ /(^| )deb( |$)/ && enabled)
        for (i = 1; i <= split(uris, u, " "); i++) for (j = 1; j <= split(suites, s, " "); j++) print u[i], s[j]
      types = uris = suites = ""; enabled = 1
    }
    FNR == 1 { if (deb822) flush(); deb822 = FILENAME ~ /\.sources$/; enabled = 1 }
    /^[ \t]*#/ { next }
    deb822 && /^[ \t]*$/ { flush(); next }
    deb822 && /^[A-Za-z-]+:/ {
      key = tolower($1); sub(/^[^:]+:[ \t]*/, "")
      if (key == "types:") types = $0
      else if (key == "uris:") uris = $0
      else if (key == "suites:") suites = $0
      else if (key == "enabled:") enabled = tolower($0) != "no"
      next
    }
    !deb822 && $1 == "deb" {
      i = 2
      if ($i ~ /^\[/) { while (i <= NF && $i !~ /\]$/) i++; i++ }
      print $i, $(i + 1)
    }
    END { if (deb822) flush() }
  ' "${files[@]}" | awk -v codename="$codename" '
    { sub(/\/+$/, "", $1) }
    codename != "" && $2 == codename && found == "" { found = $1 }
    $1 ~ /\/debian$/ && fallback == "" { fallback = $1 }
    END { print (found != "" ? found : fallback) }')
  [ -n "$uri" ] || { echo "error: no Debian archive in this machine's apt sources" >&2; return 1; }
  echo "$uri"
}

# --- processes and mounts inside -------------------------------------------

# Processes whose root is the userland (a build or the tests of a run that was
# stopped half way).
_userland_processes() {
  local proc real
  real=$(realpath "$userland")
  for proc in /proc/[0-9]*; do
    if [ "$(readlink "$proc/root" 2>/dev/null)" = "$real" ]; then echo "${proc#/proc/}"; fi
  done
}

_userland_stop_processes() {
  local pids
  pids=$(_userland_processes)
  [ -n "$pids" ] || return 0
  echo "stopping what still runs in $userland: ${pids//$'\n'/ }"
  # shellcheck disable=SC2086  # a list of numbers
  kill -TERM $pids 2>/dev/null || true
  sleep 2
  pids=$(_userland_processes)
  # shellcheck disable=SC2086
  if [ -n "$pids" ]; then kill -KILL $pids 2>/dev/null || true; fi
}

# Every mount point under the userland, deepest first.
_userland_mounts() { findmnt -rn -o TARGET | awk -v p="$(realpath "$userland")/" 'index($0, p) == 1' | sort -r; }

_userland_unmount() {
  local target
  for target in $(_userland_mounts); do
    umount "$target" 2>/dev/null || umount -l "$target" || true
  done
}

_userland_mount() {
  mkdir -p "$userland/proc" "$userland/sys" "$userland/dev"
  mount -t proc proc "$userland/proc"
  mount -t sysfs sysfs "$userland/sys"
  mount --bind /dev "$userland/dev"
  # On a host with shared mounts, what is mounted on the bind (dev/pts) would
  # otherwise pass back to the host's /dev. dev/pts: a bind of /dev alone
  # leaves it empty, and the command-line tests open a pseudo-terminal.
  mount --make-private "$userland/dev"
  mount --bind /dev/pts "$userland/dev/pts"
}

# Removes the userland's files; never while anything is mounted in it (a
# bound /dev would take the host's device nodes with it).
_userland_wipe() {
  _userland_stop_processes
  _userland_unmount
  if [ -n "$(_userland_mounts)" ]; then
    echo "error: still mounted inside $userland:" >&2
    _userland_mounts >&2
    exit 1
  fi
  rm -rf --one-file-system "$userland"
}

_userland_on_exit() {
  local status=$?
  trap - EXIT INT TERM HUP
  phase_summary
  if [ -n "${userland:-}" ] && [ -d "$userland" ]; then
    _userland_stop_processes
    _userland_unmount
  fi
  exit "$status"
}

# --- the userland ------------------------------------------------------------

userland_start() {
  local name=$1 suite=$2 arch=$3 mirror=${4:-} tool missing=()
  if [ "$(id -u)" -ne 0 ]; then
    echo "error: needs root (debootstrap, mount and chroot)" >&2
    exit 1
  fi
  git rev-parse --is-inside-work-tree >/dev/null 2>&1 || {
    echo "error: $PWD is not a git work tree (the copy into the userland lists files with git)" >&2
    exit 1
  }
  userland_base=$PWD/build/userland-$name
  userland=$userland_base/root
  userland_logs=$userland_base/logs
  _userland_inside=(chroot)
  [ "$arch" != i386 ] || _userland_inside=(linux32 chroot)

  phase "host tools"
  for tool in debootstrap:debootstrap linux32:util-linux findmnt:util-linux flock:util-linux git:git tar:tar; do
    command -v "${tool%%:*}" >/dev/null || missing+=("${tool#*:}")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "installing on the host: ${missing[*]}"
    apt-get update -q
    DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
  phase_end

  if [ -d "$userland_base/usr" ]; then  # the root file system itself, as an earlier script made it
    echo "error: $userland_base holds a userland of an older layout; remove it first (rm -rf --one-file-system)" >&2
    exit 1
  fi
  mkdir -p "$userland_base" "$userland_logs"
  # One run at a time: both would mount into and copy over the same userland.
  # The lock file names the run that holds it.
  exec 9>>"$userland_base/lock"
  if ! flock -n 9; then
    local holder
    holder=$(cat "$userland_base/lock")
    if [ -z "$holder" ] || kill -0 "$holder" 2>/dev/null; then
      echo "error: another run (${holder:-pid unknown}) is using $userland_base" >&2
      exit 1
    fi
    # That run was killed outright: what it left running (the suite, and the
    # shells around it that share its lock) ends when the userland's
    # processes are stopped.
    echo "run $holder is gone; stopping what it left running"
    _userland_stop_processes
    flock -w 30 9 || { echo "error: $userland_base/lock is still held" >&2; exit 1; }
  fi
  echo $$ >"$userland_base/lock"
  trap _userland_on_exit EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM
  trap 'exit 129' HUP
  # What a run that was killed outright left running or mounted.
  if [ -d "$userland" ]; then
    _userland_stop_processes
    _userland_unmount
  fi

  phase "userland ($suite $arch)"
  # Written only when debootstrap has finished.
  if [ -f "$userland_base/root.complete" ] && [ -x "$userland/usr/bin/apt-get" ]; then
    echo "reusing $userland ($(cat "$userland_base/root.complete"))"
  else
    if [ -e "$userland" ]; then
      echo "removing an incomplete userland"
      _userland_wipe
    fi
    rm -f "$userland_base/root.complete"
    mirror=${mirror:-$(debian_mirror)}
    echo "debootstrap $suite $arch from $mirror (log: $userland_logs/debootstrap.log)"
    if ! debootstrap --arch="$arch" --variant=minbase --include=ca-certificates "$suite" "$userland" "$mirror" \
      >"$userland_logs/debootstrap.log" 2>&1; then
      tail -n 30 "$userland_logs/debootstrap.log" >&2
      echo "error: debootstrap failed" >&2
      exit 1
    fi
    echo "$suite $arch from $mirror, made $(date -u +%Y-%m-%dT%H:%MZ)" >"$userland_base/root.complete"
  fi
  phase_end

  _userland_mount
  # Name resolution and pip's certificates as the host has them now.
  cp -L --remove-destination /etc/resolv.conf "$userland/etc/resolv.conf"
  cp -L /etc/ssl/certs/ca-certificates.crt "$userland/etc/ssl/host-ca-certificates.crt"
  local index=${PIP_INDEX_URL:-$(pip3 config get global.index-url 2>/dev/null || true)}
  {
    printf '[global]\ncert = /etc/ssl/host-ca-certificates.crt\ndisable-pip-version-check = true\n'
    case $index in http://* | https://*) echo "index-url = $index" ;; esac
  } >"$userland/etc/pip.conf"
  # Unstable's Release file may be past its Valid-Until date on a mirror that
  # lags; apt still checks its signature.
  case $suite in
    sid | unstable) echo 'Acquire::Check-Valid-Until "false";' >"$userland/etc/apt/apt.conf.d/99no-check-valid-until" ;;
  esac

  # A clean environment inside: the host's PIP_*, SSL and other settings stay out.
  _userland_env=(PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8
    TERM="${TERM:-dumb}" DEBIAN_FRONTEND=noninteractive CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}")
  local var
  for var in HYPOTHESIS_PROFILE http_proxy https_proxy no_proxy HTTP_PROXY HTTPS_PROXY NO_PROXY; do
    if [ -n "${!var:-}" ]; then _userland_env+=("$var=${!var}"); fi
  done
}

# (fd 9, the lock, stays outside: a process left behind keeps no lock.)
inside() { "${_userland_inside[@]}" "$userland" /usr/bin/env -i "${_userland_env[@]}" "$@" 9>&-; }

userland_packages() {
  local installed
  phase "packages"
  # shellcheck disable=SC2016  # expanded by dpkg-query
  installed=$(inside dpkg-query -W -f='${db:Status-Status}\n' "$@" 2>/dev/null | grep -cx installed) || true
  if [ "$installed" -ne $# ]; then
    inside apt-get update -q
    inside apt-get install -y -q --no-install-recommends "$@"
  else
    echo "all installed: $*"
  fi
  # shellcheck disable=SC2016  # expanded inside
  inside sh -c 'echo "$(g++ --version | head -n 1), $(cmake --version | head -n 1), uname -m $(uname -m)"'
  phase_end
}

# The upstream tarball of a source package, not Debian's patched tree: the
# patches fit the interpreter to Debian's own layout (dist-packages, multiarch),
# and a build for a prefix of its own wants upstream's.
userland_source() {
  local suite=$1 package=$2 dir=$3 mirror own list line
  read -r mirror own < <(awk '$1 == "deb" { print $2, $3; exit }' "$userland/etc/apt/sources.list" 2>/dev/null) || true
  [ -n "$mirror" ] || { echo "error: no deb line in $userland/etc/apt/sources.list" >&2; return 1; }
  line="deb-src $mirror $suite main"
  # Another suite's Release file (unstable's) may be past its Valid-Until date
  # on a mirror that lags; apt still checks its signature. (The userland's own
  # suite keeps the check its deb line has: apt wants one value per suite.)
  [ "$suite" = "$own" ] || line="deb-src [check-valid-until=no] $mirror $suite main"
  list=$userland/etc/apt/sources.list.d/source-$suite.list
  [ "$(cat "$list" 2>/dev/null)" = "$line" ] || echo "$line" >"$list"
  inside apt-get update -q || return 1
  # shellcheck disable=SC2016  # expanded inside
  source_version=$(inside bash -euc '
    package=$1 suite=$2 dir=$3 download=/srv/tavrin/source-download
    rm -rf "$download" "$dir"
    mkdir -p "$download" "$dir"
    chown _apt "$download"  # apt downloads as _apt where it can write
    cd "$download"
    apt-get source -q --download-only "$package/$suite" >&2
    orig=$(ls ./*.orig.tar.* | grep -v "\.asc$")
    tar -xf "$orig" --strip-components=1 -C "$dir"
    sed -n "s/^Version: //p" ./*.dsc
    rm -rf "$download"' _ "$package" "$suite" "$dir") || return 1
  echo "$package $source_version ($suite): upstream source in $dir"
}

userland_copy_tree() {
  local what
  phase "copy tree"
  rm -rf --one-file-system "$userland$userland_tree"
  mkdir -p "$userland$userland_tree"
  if [ -n "${1:-}" ]; then
    git archive --format=tar "$1" | tar -x -C "$userland$userland_tree" -f -
    what="commit $(git rev-parse --short "$1")"
  else
    # A tracked file deleted in the work tree is left out.
    git ls-files -co --exclude-standard -z |
      while IFS= read -r -d '' file; do
        if [ -e "$file" ] || [ -L "$file" ]; then printf '%s\0' "$file"; fi
      done |
      tar -c --null -T - -f - | tar -x -C "$userland$userland_tree" -f -
    what="working tree at $(git rev-parse --short HEAD)$([ -z "$(git status --porcelain)" ] || echo ", with local changes")"
  fi
  echo "$(find "$userland$userland_tree" -type f | wc -l) files in $userland_tree: $what"
  phase_end
}

userland_venv() {
  local fresh=0
  if [ "$1" = --fresh ]; then fresh=1; shift; fi
  local python=$1 venv=$2
  shift 2
  # shellcheck disable=SC2016  # expanded inside
  inside bash -euc '
    python=$1 venv=$2 tree=$3 fresh=$4
    shift 4
    want=$("$python" -c "import sys; print(sys.version_info[:2])")
    if [ "$fresh" = 1 ] || [ "$("$venv/bin/python" -c "import sys; print(sys.version_info[:2])" 2>/dev/null)" != "$want" ]; then
      rm -rf "$venv"
      "$python" -m venv "$venv"
    fi
    "$venv/bin/python" -m pip install -q --upgrade pip
    "$venv/bin/python" -m pip install -q "$@" -r "$tree/requirements-dev.txt"
    "$venv/bin/python" -VV' _ "$python" "$venv" "$userland_tree" "$fresh" "$@"
}

userland_install_wheel() {
  local venv=$1 wheel=$2 name
  name=$(basename "$wheel")
  rm -rf --one-file-system "$userland/srv/tavrin/wheels"
  mkdir -p "$userland/srv/tavrin/wheels"
  cp -p "$wheel" "$userland/srv/tavrin/wheels/$name"
  # --no-index: the wheel needs nothing from the package index, and nothing
  # else (a build from source above all) may stand in for it.
  inside "$venv/bin/python" -m pip install -q --no-index --no-deps "/srv/tavrin/wheels/$name"
}

# Prints the compiler's messages from a failed build log.
_userland_build_errors() {
  if grep -q 'FAILED:\|error:' "$1"; then
    sed -n '/FAILED:\|error:/,$p' "$1" | head -n 200
  else
    tail -n 80 "$1"
  fi
  echo "(whole build log: $1)"
}

userland_build() {
  local label=$1 venv=$2 log=$userland_logs/build-$1.log
  shift 2
  echo "${*:-no extra environment}; warnings as errors (log: $log)"
  # Ninja goes on past a failed object (-k0), so that the log lists every
  # error. (In a subshell: a redirection of a function call would still hold
  # when a Ctrl-C runs the exit trap, and the summary would go to the log.)
  if ! (inside env -C "$userland_tree" "$@" "$venv/bin/python" -m pip install -v --no-build-isolation \
    -C build-dir="build/$label" -C build.tool-args=-k0 -C cmake.define.TAVRIN_WERROR=ON .) >"$log" 2>&1; then
    _userland_build_errors "$log"
    return 1
  fi
}

pytest_summary_of() {
  local line
  line=$(grep -E '([0-9]+ (passed|failed|errors?|skipped)|no tests ran).* in [0-9.]+s' "$1" |
    tail -n 1 | sed 's/^=* //; s/ =*$//') || true
  [ -n "$line" ] && echo "$line"
}

userland_pytest() {
  local label=$1 venv=$2 log=$userland_logs/suite-$1.log status=0 vars=()
  shift 2
  while [ $# -gt 0 ] && [[ $1 =~ ^[A-Za-z_][A-Za-z0-9_]*= ]]; do vars+=("$1"); shift; done
  # -P: the tree's root is not put on sys.path; the package comes from the venv.
  inside env -C "$userland_tree" "${vars[@]}" "$venv/bin/python" -P -m pytest "$@" 2>&1 |
    (trap "" INT; exec tee "$log") || status=$?
  # shellcheck disable=SC2034  # read by the calling script
  pytest_summary=$(pytest_summary_of "$log") || true
  return "$status"
}

userland_i386() {
  userland_start i386 trixie i386 "${TAVRIN_I386_MIRROR:-}"
  userland_packages python3.13 python3.13-dev python3.13-venv python3-pip g++ cmake make ninja-build git
}
