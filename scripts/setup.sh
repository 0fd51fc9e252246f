#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the program need, when missing.
set -euo pipefail

packages=(
    build-essential cmake ninja-build git pkg-config liburing-dev
    clang-14 libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev
    clang-format
    acl attr strace
    lame flac vorbis-tools opus-tools sox ffmpeg
    dosfstools fusefat exfatprogs exfat-fuse
    libxxhash-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    xvfb xauth xdg-utils fonts-arphic-uming
    dpkg-dev file lintian appstream desktop-file-utils
)

missing=()
for package in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get update -q
    "${sudo_cmd[@]}" apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
