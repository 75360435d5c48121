#!/usr/bin/env bash
# Installs what the build and the tests need, from Debian's packages (and the
# npm registry for the test-only readers). Does nothing when all is there.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libsqlite3-dev nlohmann-json3-dev libtiff-dev libpng-dev
  libfreetype-dev libfontconfig-dev fonts-liberation2
  libemail-outlook-message-perl
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js runs the test-only readers; a machine may carry its own build of it
# (with npm inside), which Debian's npm package would conflict with.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  missing+=(nodejs npm)
fi
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then sudo=sudo; else sudo=; fi
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Independent readers used only by the tests (.msg files, compressed RTF).
if [ -f "$here/tests/node/package.json" ] && [ ! -d "$here/tests/node/node_modules" ]; then
  (cd "$here/tests/node" && npm install --no-audit --no-fund --silent)
fi
