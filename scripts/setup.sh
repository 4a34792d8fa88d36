#!/usr/bin/env bash
# Installs the Debian packages the project builds, tests and runs with.
# Idempotent: asks apt only for what is missing; uses sudo when not root.
# The PipeWire packages are there for the tests' second server; they live
# beside PulseAudio (pipewire-alsa would remove it, so it is not asked for).
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-dev pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev fonts-dejavu-core
  libpulse-dev libpipewire-0.3-dev libspa-0.2-dev libcanberra-dev libcanberra-pulse
  libhamlib-dev libhamlib-utils
  libgtest-dev libgmock-dev
  pulseaudio pulseaudio-utils
  pipewire pipewire-bin pipewire-pulse wireplumber dbus-daemon python3
  dpkg-dev file clang-format lintian desktop-file-utils appstream
  xvfb xdotool
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "setup: installing ${missing[*]}"
"${sudo[@]}" apt-get update -q
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
