#!/bin/bash
# Installs what a fresh Debian machine lacks to build and test uninstKIVO.
# Idempotent: when everything is present it changes nothing. Wine's 32-bit
# half (and Debian's i386 architecture) only where this host runs 32-bit
# programs; both cross compilers everywhere, since build/uninstKIVO.exe ships.
# The compilers of mingw-w64's win32 thread model: the posix model's runtime
# imports functions that only Windows Vista and later have.
set -euo pipefail
source "$(dirname "$0")/flavour"
kivo_flavour_choose

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "ok installed"; }

packages=(
  cmake make git python3
  g++-mingw-w64-i686-win32 mingw-w64-i686-dev binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-win32 mingw-w64-x86-64-dev binutils-mingw-w64-x86-64
  wine wine64
  xvfb x11-apps imagemagick xdotool
  googletest
  unzip p7zip-full
  libz-mingw-w64-dev zlib1g-dev
  clang libclang-rt-14-dev
  locales
)

updated=1
if [ "$KIVO_HOST_RUNS_32" = yes ]; then
  packages+=(wine32:i386)
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    rm -f /var/lib/apt/lists/lock
    updated=0
  fi
fi

for p in "${packages[@]}"; do have "$p" || need+=("$p"); done

if [ "${#need[@]}" -gt 0 ] || [ "$updated" = 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  if [ "${#need[@]}" -gt 0 ]; then
    apt-get install -y -qq --no-install-recommends "${need[@]}"
  fi
fi

# Wine mangles non-ASCII names without the matching glibc locales.
for loc in fr_FR es_MX en_US; do
  if ! locale -a 2>/dev/null | grep -qi "^${loc}\.utf-\?8$"; then
    sed -i "s/^# *\(${loc}.UTF-8 UTF-8\)/\1/" /etc/locale.gen
    grep -q "^${loc}.UTF-8 UTF-8" /etc/locale.gen || echo "${loc}.UTF-8 UTF-8" >>/etc/locale.gen
    regen=1
  fi
done
if [ "${regen:-0}" = 1 ]; then locale-gen >/dev/null; fi
