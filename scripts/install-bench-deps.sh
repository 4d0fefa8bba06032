#!/bin/sh
# Installs the programs scripts/compare_thumbnailers.sh measures the daemon
# against: vipsthumbnail, ImageMagick's convert and libjpeg-turbo's djpeg,
# libvips's headers for the in-process libvips anchor (tools/loadgen builds
# ql_vips_pipeline when pkg-config finds them), and python3, which writes
# the report, and perf for scripts/profile_daemon.sh.
# Kept apart from install-deps.sh so the CI machine stays lean; only the
# comparison run needs them. Run as root (or through sudo).
set -eu
export DEBIAN_FRONTEND=noninteractive
SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  libvips-tools libvips-dev imagemagick libjpeg-turbo-progs python3 linux-perf
