#!/bin/bash
# Installs what the user tools need on Debian: numpy and matplotlib (for
# velmora-plot) and GNU parallel (for velmora-grid). Run it as root, or as a
# user who may use sudo.
set -euo pipefail
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)
"${as_root[@]}" apt-get update
DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get install -y python3-numpy python3-matplotlib parallel
