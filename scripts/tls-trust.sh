# Sourced: runs a command with the test CA of tests/servers/make-pki.sh trusted
# by Wine, for that command only; the machine's own trust is not touched.
#
# Wine's certificate chain engine takes its trusted roots from the Linux CA
# bundle /etc/ssl/certs/ca-certificates.crt as the Windows process sees it
# (roots added to the prefix's registry store are not used). The command runs
# in a private mount namespace (unshare, root only) where the run's
# trust-bundle.crt (the system bundle plus the test CA) is bind-mounted over
# that file. Inside, KESTREL_TLS_TRUSTED=1 is exported; where the namespace or
# the mount cannot be made, the command still runs, without it, and
# KESTREL_TLS_TRUST_PROBLEM says why.
#
#   tls_trust_exec RUN_DIR CMD...   replaces the shell by CMD in the namespace
#                                   (makes RUN_DIR/pki first when needed)
#   tls_trust_run RUN_DIR CMD...    the same as a child process; returns its status
#   tls_trust_problem               prints why trust cannot be set up here; fails when it can
#
# Scripts re-execute themselves: [ -n "${KESTREL_TLS_TRUSTED:-}${KESTREL_TLS_TRUST_PROBLEM:-}" ] ||
# tls_trust_exec "$RUN" bash "$0" "$@"
TLS_TRUST_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
TLS_TRUST_BUNDLE=/etc/ssl/certs/ca-certificates.crt

tls_trust_problem() {
  if [ "$(id -u)" -ne 0 ]; then echo "a private mount namespace needs root"
  elif ! command -v unshare >/dev/null; then echo "unshare is missing"
  elif [ ! -f "$TLS_TRUST_BUNDLE" ]; then echo "$TLS_TRUST_BUNDLE is missing"
  elif ! unshare -m --propagation private true 2>/dev/null; then echo "unshare -m is not permitted here"
  else return 1
  fi
}

# Wine processes read the bundle themselves, but a wineserver of this prefix
# that is already running was started outside: let it end first (bounded),
# then stop it, so that the prefix's session starts inside the namespace.
tls_trust_fresh_wineserver() {
  [ -n "${WINEPREFIX:-}" ] && command -v wineserver >/dev/null || return 0
  timeout 20 wineserver -w 2>/dev/null || wineserver -k 2>/dev/null || true
}

tls_trust_command() {
  local run=$1 problem; shift
  if problem=$(tls_trust_problem); then
    echo "TLS trust could not be set up: $problem" >&2
    exec env KESTREL_TLS_TRUST_PROBLEM="$problem" "$@"
  fi
  mkdir -p "$run"
  if ! bash "$TLS_TRUST_ROOT/tests/servers/make-pki.sh" "$run" >"$run/pki.log" 2>&1; then
    echo "TLS trust could not be set up: the test certificates could not be made (see $run/pki.log)" >&2
    exec env KESTREL_TLS_TRUST_PROBLEM="no test certificates" "$@"
  fi
  tls_trust_fresh_wineserver
  # Inside: mount, then run the command (without the trust when the mount fails).
  exec unshare -m --propagation private -- bash -c '
    bundle=$1 target=$2; shift 2
    if mount --bind "$bundle" "$target"; then
      export KESTREL_TLS_TRUSTED=1
    else
      echo "TLS trust could not be set up: mount --bind failed" >&2
      export KESTREL_TLS_TRUST_PROBLEM="mount --bind failed"
    fi
    exec "$@"' tls-trust "$run/pki/trust-bundle.crt" "$TLS_TRUST_BUNDLE" "$@"
}

tls_trust_exec() { tls_trust_command "$@"; }

tls_trust_run() { (tls_trust_command "$@"); }
