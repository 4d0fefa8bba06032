#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test, fuzz and
# benchmark. Safe to run again: apt-get skips what is already there.
set -euo pipefail

packages=(
  build-essential cmake pkg-config git
  libboost-thread-dev libboost-filesystem-dev libboost-system-dev
  libgd-dev libjpeg-dev libpng-dev
  libexif-dev libid3tag0-dev libavif-dev liblcms2-dev zlib1g-dev libjxl-dev libwebp-dev
  libpoppler-cpp-dev
  libraw-dev libavformat-dev libavcodec-dev libswscale-dev libavutil-dev
  libssl-dev libcurl4-openssl-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev clang-format
  libsystemd-dev
  exif procps psmisc
  libheif-examples libavif-bin webp ffmpeg libtiff-tools libjxl-tools
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
