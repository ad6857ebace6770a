#!/usr/bin/env bash
# Checks a built package: every runtime package the help window tells the
# user to install must be among the package's dependencies, so that an
# installed package never lacks what the program itself says it needs.
#
# Usage: scripts/check_deb.sh PACKAGE.deb
set -euo pipefail

deb=$1
root=$(cd "$(dirname "$0")/.." && pwd)
depends=$(dpkg-deb -f "$deb" Depends)
# The names in runtimePackages(), one QStringLiteral each.
named=$(sed -n '/^QStringList runtimePackages()/,/^}/p' "$root/src/shell/platform_help.cpp" |
  sed -n 's/.*QStringLiteral("\([^"]*\)").*/\1/p')
if [ -z "$named" ]; then
  echo "check_deb: no runtime packages found in src/shell/platform_help.cpp" >&2
  exit 1
fi
missing=()
for p in $named; do
  # A name stands alone in the list: after the start or ", ", before
  # " (", "," or the end.
  grep -Eq "(^|, )$p( \(|,|$)" <<<"$depends" || missing+=("$p")
done
if [ ${#missing[@]} -ne 0 ]; then
  echo "check_deb: $deb does not depend on ${missing[*]} (Depends: $depends)" >&2
  exit 1
fi
echo "$deb depends on every runtime package the help window names: $(tr "\n" " " <<<"$named")"
