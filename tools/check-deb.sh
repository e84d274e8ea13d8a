#!/usr/bin/env bash
# Checks that the Debian package puts every file where the system looks for it,
# that its manual pages render without a warning, that its AppStream data is
# valid and finds its desktop entry, that its changelog is for
# the version being packaged, and that lintian finds no error in it (its
# warnings are printed; README's "Packaging" tells why those left are there).
set -euo pipefail
deb=$(realpath "${1:?usage: check-deb.sh PACKAGE.deb}")

cd "$(dirname "$0")/.."
source tools/packages.sh
need_packages man-db groff-base lintian appstream

contents=$(dpkg -c "$deb" | awk '{print $NF}')
status=0
for path in \
    ./usr/bin/tavrin \
    ./usr/bin/tavrinctl \
    ./usr/bin/tavrin-readersim \
    ./usr/lib/udev/rules.d/60-tavrin.rules \
    ./usr/share/applications/invalid.tavrin.Tavrin.desktop \
    ./usr/share/metainfo/invalid.tavrin.Tavrin.metainfo.xml \
    ./usr/share/icons/hicolor/16x16/apps/tavrin.png \
    ./usr/share/icons/hicolor/32x32/apps/tavrin.png \
    ./usr/share/icons/hicolor/48x48/apps/tavrin.png \
    ./usr/share/icons/hicolor/64x64/apps/tavrin.png \
    ./usr/share/icons/hicolor/128x128/apps/tavrin.png \
    ./usr/share/icons/hicolor/256x256/apps/tavrin.png \
    ./usr/share/icons/hicolor/scalable/apps/tavrin.svg \
    ./usr/share/man/man1/tavrin.1.gz \
    ./usr/share/man/man1/tavrinctl.1.gz \
    ./usr/share/man/man1/tavrin-readersim.1.gz \
    ./usr/share/doc/tavrin/copyright \
    ./usr/share/doc/tavrin/changelog.gz; do
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

# The installed files themselves, not the sources they were made from.
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
dpkg-deb -x "$deb" "$root"

# groff reports its warnings on standard error; the page is fine when there
# are none.
for page in "$root"/usr/share/man/man1/*.1.gz; do
    man_rc=0
    warnings=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 \
        man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null) || man_rc=$?
    if [ $man_rc -ne 0 ] || [ -n "$warnings" ]; then
        echo "MANPAGE $(basename "$page") (man exit $man_rc):"
        echo "$warnings"
        status=1
    else
        echo "ok      manual page $(basename "$page")"
    fi
done

metainfo=$root/usr/share/metainfo/invalid.tavrin.Tavrin.metainfo.xml
if [ -f "$metainfo" ] && appstreamcli validate --no-net "$metainfo" \
    && tree_report=$(appstreamcli validate-tree --no-net "$root" 2>&1); then
    echo "ok      AppStream data"
else
    # validate-tree is what notices a launchable without its desktop entry.
    echo "${tree_report:-}"
    echo "APPSTREAM data not valid"
    status=1
fi

version=$(dpkg-deb -f "$deb" Version)
logged=$(zcat "$root/usr/share/doc/tavrin/changelog.gz" 2>/dev/null | sed -n '1s/^tavrin (\(.*\)).*/\1/p' || true)
if [ "$logged" = "$version" ]; then
    echo "ok      changelog entry for $version"
else
    echo "CHANGELOG has ${logged:-no entry} on top, the package is $version"
    status=1
fi

# Lintian refuses to judge a package when it fails itself; that is a failure
# too, not a clean result.
lintian_rc=0
report=$(lintian --fail-on none --tag-display-limit 0 "$deb" 2>&1) || lintian_rc=$?
report=$(grep -v '^running with root privileges' <<<"$report" || true)
[ -n "$report" ] && echo "$report"
if [ $lintian_rc -ne 0 ] || grep -q '^E: ' <<<"$report"; then
    echo "LINTIAN found errors (exit $lintian_rc)"
    status=1
else
    echo "ok      lintian: $(grep -c '^W: ' <<<"$report" || true) warnings, no errors"
fi
exit $status
