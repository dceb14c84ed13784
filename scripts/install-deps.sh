#!/usr/bin/env bash
# Installs what the build and the tests need on Debian: the compiler, CMake and
# GoogleTest for the Linux build; mingw-w64 and 32-bit Wine for TALVERON.dll
# and its tests. Does nothing when everything is there already.
set -euo pipefail

packages=(cmake g++ make libgtest-dev g++-mingw-w64-i686 wine wine32:i386)

missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" > /dev/null 2>&1 || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "installing: ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$sudo dpkg --add-architecture i386
$sudo apt-get update -qq
$sudo apt-get install -y -qq "${missing[@]}" > /dev/null
