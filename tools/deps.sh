#!/usr/bin/env bash
# Installs the Debian packages the project needs, when any are missing.
# Usage: tools/deps.sh [build|test|bench|docs|format]
# docs: gnuplot for tools/plots.sh; neither the demo nor the tests need it.
set -eu

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

missing=""
for p in $wanted; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing="$missing $p"
  fi
done
[ -z "$missing" ] && exit 0

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
