#!/usr/bin/env bash
# Installs the Debian packages the build needs, when they are missing.
# Usage: scripts/install-deps.sh [--windows] [--wine] [--fuzz] [--display] [--packaging] [--fleet]
#                                [--vm]
#   --windows  the mingw-w64 cross compiler (the Windows build)
#   --wine     Wine, to run the Windows programs and tests
#   --fuzz     clang and libFuzzer (the fuzz preset, scripts/fuzz.sh)
#   --display  Xvfb and xdotool, to test quillon on a virtual X display
#   --packaging  NSIS, lintian and the Debian packaging tools (scripts/package.sh,
#              scripts/check-packages.sh)
#   --fleet    Ansible (scripts/check-fleet.sh)
#   --vm       QEMU, busybox, cpio and kmod (scripts/vm-test.sh: Debian's kernel
#              in a virtual machine)
set -euo pipefail

packages=(cmake make g++ libgtest-dev libgmock-dev googletest libcli11-dev nlohmann-json3-dev
          qt6-base-dev scdoc libssl-dev libudev-dev)
for option in "$@"; do
  case "$option" in
    --windows) packages+=(g++-mingw-w64-x86-64) ;;
    --wine) packages+=(wine64) ;;
    --fuzz) packages+=(clang-14 libfuzzer-14-dev) ;;
    --display) packages+=(xvfb xdotool) ;;
    --packaging) packages+=(nsis lintian dpkg-dev fakeroot file man-db unzip wixl msitools osslsigncode) ;;
    --fleet) packages+=(ansible) ;;
    --vm) packages+=(qemu-system-x86 busybox-static cpio kmod) ;;
    *)
      echo "install-deps.sh: unknown option $option" >&2
      exit 2
      ;;
  esac
done

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing: ${missing[*]}" >&2
sudo=""
if [[ $(id -u) -ne 0 ]]; then
  command -v sudo >/dev/null || { echo "Need root or sudo to install ${missing[*]}" >&2; exit 1; }
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
