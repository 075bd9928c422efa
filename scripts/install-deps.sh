#!/usr/bin/env bash
# Installs every Debian package Notecrate needs to build, run and test.
# Safe to run again: packages that are already installed are skipped.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git clang-format
  qt6-base-dev qt6-base-dev-tools qt6-declarative-dev qt6-tools-dev qt6-tools-dev-tools
  qt6-l10n-tools qt6-translations-l10n qt6-image-formats-plugins libgl-dev
  libminizip-dev zlib1g-dev libdeflate-dev libsqlite3-dev libplist-dev libprotobuf-dev
  protobuf-compiler libheif-dev
  libavahi-compat-libdnssd-dev avahi-daemon dbus dbus-daemon dbus-bin libssl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  fonts-dejavu-core xvfb xauth x11-utils imagemagick
  zip unzip util-linux iproute2 python3 python3-pil
  clang libclang-rt-14-dev
  desktop-file-utils dpkg-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}" >&2
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  # Installing avahi-daemon or dbus must not start them on the machine's own network:
  # discovery tests start their own inside a private namespace (scripts/netns-run.sh).
  made_policy=""
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | $SUDO tee /usr/sbin/policy-rc.d >/dev/null
    $SUDO chmod +x /usr/sbin/policy-rc.d
    made_policy=1
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  if [ -n "$made_policy" ]; then $SUDO rm -f /usr/sbin/policy-rc.d; fi
fi
