#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any are missing.
# Usage: tools/deps.sh [build|test|bench|docs|format]
# docs: gnuplot for tools/plots.sh; neither the demo nor the tests need it.
# test: also the Khronos glTF validator (the npm package gltf-validator, run
# by tools/gltf_validate.js under Node.js), installed into a cache folder of
# its own, QV_NPM_PREFIX (default ~/.cache/qvdemo/npm), not the user's global
# npm: the tests of qvexport validate every glTF file it writes with it.
set -eu

gltf_validator="gltf-validator@2.0.0-dev.3.10"
npm_prefix="${QV_NPM_PREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/qvdemo/npm}"

# The validator, once Node.js and npm are there; a second run finds it.
install_validator() {
  local version="${gltf_validator##*@}"
  if grep -q "\"version\": \"$version\"" "$npm_prefix/node_modules/gltf-validator/package.json" 2>/dev/null; then
    return 0
  fi
  echo "Installing $gltf_validator into $npm_prefix"
  mkdir -p "$npm_prefix"
  # Without it every other test still runs: only the validating ones fail,
  # by name, so a registry that cannot be reached costs those alone.
  if ! npm install --prefix "$npm_prefix" --no-audit --no-fund --no-save --loglevel=error "$gltf_validator"; then
    echo "deps.sh: $gltf_validator could not be installed from the npm registry (above); the tests that validate" \
      "glTF files fail until it is" >&2
  fi
}

build_pkgs="cmake g++ make pkg-config libsdl1.2-dev libtinyxml-dev libpng-dev libgl-dev libglu1-mesa-dev libgl1-mesa-dri libassimp-dev libjpeg-dev"
test_pkgs="libgtest-dev gcc libx11-dev xvfb xdotool imagemagick x11-utils assimp-testmodels"
bench_pkgs="libbenchmark-dev libglm-dev"
docs_pkgs="gnuplot-nox"
format_pkgs="clang-format git"

case "${1:-build}" in
  build) wanted="$build_pkgs $bench_pkgs" ;;
  test)  wanted="$build_pkgs $bench_pkgs $test_pkgs" ;;
  bench) wanted="$build_pkgs $bench_pkgs" ;;
  docs)  wanted="$build_pkgs $bench_pkgs $docs_pkgs" ;;
  format) wanted="$format_pkgs" ;;
  *) echo "usage: $0 [build|test|bench|docs|format]" >&2; exit 2 ;;
esac

# Node.js and npm by their commands: a Node.js from elsewhere brings its own
# npm, which Debian's npm package would conflict with.
if [ "${1:-build}" = test ]; then
  command -v node >/dev/null 2>&1 || wanted="$wanted nodejs"
  command -v npm >/dev/null 2>&1 || wanted="$wanted npm"
fi

missing=""
for p in $wanted; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
if [ -z "$missing" ]; then
  [ "${1:-build}" = test ] && install_validator
  exit 0
fi

echo "Installing missing packages:$missing"
if [ "$(id -u)" -ne 0 ]; then
  if command -v sudo >/dev/null 2>&1; then
    SUDO=sudo
  else
    echo "These Debian packages are missing and this user cannot install them:$missing" >&2
    echo "Install them as root: apt-get install$missing" >&2
    exit 1
  fi
else
  SUDO=""
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
# shellcheck disable=SC2086
$SUDO apt-get install -y -qq $missing
[ "${1:-build}" = test ] && install_validator
exit 0
