#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing; with "run"
# also what showing the window on a virtual screen needs.
set -eu
packages=(cmake make g++-mingw-w64-x86-64-posix googletest wine wine64 fonts-wine)
[ "${1:-}" = run ] && packages+=(xvfb imagemagick)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
$sudo apt-get update -q
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
