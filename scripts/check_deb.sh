#!/usr/bin/env bash
# Checks a built package:
# - lintian (-EI --pedantic) finds no error, no warning and no hardening tag;
#   what it still says is printed;
# - the AppStream metainfo and the desktop entry pass their validators;
# - it depends on every runtime package the help window tells the user to
#   install, on a font with Chinese glyphs, Qt's translations and its SQLite
#   driver, so an installed package never lacks what the program needs;
# - the browser companion lives off PATH, in /usr/libexec/lumenarc/.
#
# Usage: scripts/check_deb.sh PACKAGE.deb
set -euo pipefail

deb=$1
root=$(cd "$(dirname "$0")/.." && pwd)
app_id=org.lumenarc.Harvester
failed=0
fail() {
  echo "check_deb: $*" >&2
  failed=1
}

# lintian's own exit status is no help here: it fails on errors only.
tags=$(lintian -EI --pedantic --tag-display-limit 0 "$deb" 2>&1 || true)
[ -n "$tags" ] && printf 'lintian:\n%s\n' "$tags"
grep -E '^(E|W): ' <<<"$tags" >/dev/null && fail "lintian reports errors or warnings"
grep -E ': hardening-' <<<"$tags" >/dev/null && fail "lintian reports missing hardening"

contents=$(mktemp -d)
trap 'rm -rf "$contents"' EXIT
dpkg-deb -x "$deb" "$contents"
metainfo=$contents/usr/share/metainfo/$app_id.metainfo.xml
desktop=$contents/usr/share/applications/$app_id.desktop
if [ -f "$metainfo" ]; then
  # The build has no network: the addresses it names are not fetched.
  appstreamcli validate --no-net "$metainfo" || fail "the metainfo does not validate"
else
  fail "no metainfo at ${metainfo#"$contents"}"
fi
if [ -f "$desktop" ]; then
  desktop-file-validate "$desktop" || fail "the desktop entry does not validate"
else
  fail "no desktop entry at ${desktop#"$contents"}"
fi
[ -x "$contents/usr/libexec/lumenarc/lumenarc-get-harvest" ] ||
  fail "the browser companion is not in /usr/libexec/lumenarc/"
[ -e "$contents/usr/bin/lumenarc-get-harvest" ] && fail "the browser companion is on PATH"
for size in 16x16 22x22 24x24 32x32 48x48 64x64 128x128 256x256; do
  [ -f "$contents/usr/share/icons/hicolor/$size/apps/$app_id.png" ] || fail "no $size icon"
done
[ -f "$contents/usr/share/icons/hicolor/scalable/apps/$app_id.svg" ] || fail "no scalable icon"

depends=$(dpkg-deb -f "$deb" Depends)
# depends_on ALTERNATIVES: the list holds this entry (alternatives joined
# by " | "), standing alone: after the start or ", ", before " (", "," or
# the end.
depends_on() {
  local entry=${1//|/[|]}
  grep -Eq "(^|, )$entry( \(|,|$)" <<<"$depends"
}
# The names in runtimePackages(), one QStringLiteral each.
named=$(sed -n '/^QStringList runtimePackages()/,/^}/p' "$root/src/shell/platform_help.cpp" |
  sed -n 's/.*QStringLiteral("\([^"]*\)").*/\1/p')
[ -n "$named" ] || fail "no runtime packages found in src/shell/platform_help.cpp"
for p in $named; do
  depends_on "$p" || fail "$deb does not depend on $p (Depends: $depends)"
done
depends_on "fonts-noto-cjk | fonts-wqy-microhei" ||
  fail "$deb does not depend on a Chinese font (Depends: $depends)"
depends_on qt6-translations-l10n ||
  fail "$deb does not depend on Qt's translations (Depends: $depends)"
depends_on libqt6sql6-sqlite ||
  fail "$deb does not depend on Qt's SQLite driver, which keeps the lists' journal (Depends: $depends)"

[ "$failed" -eq 0 ] || exit 1
echo "$deb: lintian, metainfo and desktop entry clean; depends on a Chinese font, Qt's translations and every runtime package the help window names: $(tr "\n" " " <<<"$named")"
