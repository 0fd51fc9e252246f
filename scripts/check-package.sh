#!/usr/bin/env bash
# Makes the Debian package in a configured, built build directory and checks it, and the desktop
# data in it, the way a distribution and a software centre would: check-package.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)

echo "-- desktop-file-validate"
# It exits 0 on hints (such as two main categories); any remark at all is a failure here.
remarks=$(desktop-file-validate "$here"/data/*.desktop)
[ -z "$remarks" ] || { echo "$remarks"; exit 1; }

echo "-- appstreamcli validate"
appstreamcli validate --no-net --pedantic "$here"/data/*.metainfo.xml

echo "-- cpack"
rm -f "$build"/tagsnip_*.deb
(cd "$build" && cpack -G DEB >/dev/null 2>&1) || (cd "$build" && cpack -G DEB)
deb=$(ls "$build"/tagsnip_*_"$(dpkg --print-architecture)".deb)
echo "$deb"

echo "-- contents"
contents=$(dpkg-deb -c "$deb")
for path in usr/bin/tagsnip usr/bin/tagsnip-cli usr/share/doc/tagsnip/readme.html \
    usr/share/doc/tagsnip/copyright usr/share/doc/tagsnip/changelog.gz \
    usr/share/man/man1/tagsnip.1.gz usr/share/man/man1/tagsnip-cli.1.gz \
    usr/share/applications/example.tallowmere.tagsnip.desktop \
    usr/share/metainfo/example.tallowmere.tagsnip.metainfo.xml \
    usr/share/icons/hicolor/scalable/apps/tagsnip.svg \
    usr/share/bash-completion/completions/tagsnip-cli \
    usr/share/zsh/vendor-completions/_tagsnip-cli \
    usr/share/fish/vendor_completions.d/tagsnip-cli.fish; do
    grep -q " \./$path\$" <<<"$contents" || { echo "missing from the package: $path"; exit 1; }
done
depends=$(dpkg-deb -f "$deb" Depends)
for needed in libqt6widgets6 libstdc++6 fonts-arphic-uming; do
    grep -q "$needed" <<<"$depends" || { echo "Depends lacks $needed: $depends"; exit 1; }
done

echo "-- lintian"
# Info-level tags remain and are accepted: the usage text's "programm" is the window's own text,
# and hardening and section stripping follow the user's build flags.
status=0
report=$(lintian --fail-on error,warning "$deb" 2>&1) || status=$?
grep -v '^running with root privileges' <<<"$report" || true
[ $status -eq 0 ] || { echo "lintian failed"; exit 1; }
echo "package checks passed"
