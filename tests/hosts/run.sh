#!/bin/sh
# Runs the agent hosts' test in a network namespace that holds only loopback, so the hosts reach
# nothing but the scripted models. VESK_CONNECTOR and VESK_DEMO_HOST name the built binaries.
# Exits with 77, saying why, when the test cannot run here: the hosts not installed from this
# lockfile (tools/npm-install.sh, which make interop runs), or no namespace to be had.
set -eu
cd "$(dirname "$0")"
skip() {
  echo "agent hosts test skipped: $*"
  exit 77
}
cmp -s package-lock.json node_modules/.installed-lockfile 2>/dev/null ||
  skip "Claude Code and Codex are not installed from tests/hosts/package-lock.json; make interop installs them"
command -v ip >/dev/null || skip "ip brings up loopback in the namespace; install iproute2"
# As root a plain network namespace; as another user one inside a user namespace, where allowed.
namespace="unshare --net"
$namespace true 2>/dev/null || namespace="unshare --net --map-root-user"
$namespace true 2>/dev/null ||
  skip "no network namespace can be made here (unshare --net needs root, or user namespaces)"
exec $namespace sh -c 'ip link set lo up && exec node --test --test-reporter=spec hosts.test.mjs'
