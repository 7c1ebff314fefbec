#!/bin/sh
# Installs the Debian packages the build and the tests need, when any is missing. As root it runs
# apt-get itself; otherwise it prints the command to run and fails.
set -eu

# python3 runs the quick start and the benchmarks.
packages="cmake make g++ nlohmann-json3-dev libgtest-dev libgmock-dev libbenchmark-dev python3 $*"

missing=""
for package in $packages; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  case "$status" in
    "install ok installed") ;;
    *) missing="$missing $package" ;;
  esac
done
# Node.js and npm run the MCP SDK's test. Any install of them will do, Debian's or another, so they
# are looked for as commands rather than as packages.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  missing="$missing nodejs npm"
fi
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages:$missing" >&2
  echo "Install them with: sudo apt-get update && sudo apt-get install -y$missing" >&2
  exit 1
fi
echo "Installing:$missing" >&2
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
# shellcheck disable=SC2086
apt-get install -y -qq --no-install-recommends $missing >/dev/null
