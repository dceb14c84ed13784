#!/usr/bin/env bash
# Installs what the build and the tests need on Debian: the compiler, CMake,
# pkg-config (the installed library's test), the compression libraries and
# tools of -z (ISA-L, libzstd, libbz2, liblzma; gzip, zstd, bzip2, xz) and of
# web archives' content encodings (zlib, libbrotli), libxxhash-dev (the
# hash of unique records), wget for the archive test,
# GoogleTest and Google Benchmark for the Linux build; clang with its
# sanitizer and libFuzzer runtimes for the sanitized build and the fuzz
# targets; mingw-w64 and 32-bit Wine for TALVERON.dll and its tests; qemu-user
# to run the kernel tests on a CPU without AVX2; Dask's distributed for
# talveron-dask and its tests (python3-distributed); libicu for the standards
# mode's international domain names; python3-html5lib and nodejs, the HTML
# tokenizer and the URL parser the standards mode is held against; procps, bsdutils and
# util-linux for the tests' pkill, script and setpriv. With "bench", also the
# benchmark's peers (hxwls, ripgrep, igzip, python3-lxml). Does nothing when everything is there already.
#
#   scripts/install-deps.sh [bench]
set -euo pipefail

packages=(cmake g++ make pkg-config zlib1g-dev libisal-dev libicu-dev nodejs libzstd-dev libbrotli-dev libxxhash-dev libbz2-dev liblzma-dev gzip zstd bzip2 xz-utils wget libgtest-dev libbenchmark-dev clang libclang-rt-14-dev g++-mingw-w64-i686 wine wine32:i386 qemu-user python3-distributed python3-pandas python3-html5lib procps bsdutils util-linux)
[ "${1:-}" = bench ] && packages+=(html-xml-utils ripgrep python3 python3-lxml time isal)

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
