#!/usr/bin/env bash
# Checks that the Debian package puts every file where the system looks for it.
set -euo pipefail
deb=${1:?usage: check-deb.sh PACKAGE.deb}
contents=$(dpkg -c "$deb" | awk '{print $NF}')
status=0
for path in \
    ./usr/bin/tavrin \
    ./usr/bin/tavrinctl \
    ./usr/bin/tavrin-readersim \
    ./usr/lib/udev/rules.d/60-tavrin.rules \
    ./usr/share/applications/tavrin.desktop \
    ./usr/share/icons/hicolor/128x128/apps/tavrin.png; do
    if grep -qx -- "$path" <<<"$contents"; then
        echo "ok      $path"
    else
        echo "MISSING $path"
        status=1
    fi
done
# Read whole before matching: grep -q would stop early and, under pipefail,
# turn dpkg's broken pipe into a failure.
control=$(dpkg -I "$deb")
grep -q 'Depends:.*qt6-qpa-plugins' <<<"$control" || { echo "MISSING dependency on qt6-qpa-plugins"; status=1; }
exit $status
