#!/usr/bin/env bash
# Builds the Debian package from a built tree into a temporary folder and
# checks what it holds, what it declares, and its menu entry.
#   check_package.sh CPACK CPackConfig.cmake HELP_SOURCE_DIR
# Exits 77 (skipped) when dpkg-shlibdeps or desktop-file-validate is missing,
# unless CI=true; scripts/test.sh installs both.
set -euo pipefail
cpack=$1 config=$2 help_dir=$3

for tool in dpkg-shlibdeps desktop-file-validate; do
  if ! command -v "$tool" >/dev/null; then
    echo "$tool is missing (packages dpkg-dev, desktop-file-utils)" >&2
    [ "${CI:-}" = true ] && exit 1
    exit 77
  fi
done

out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
"$cpack" --config "$config" -B "$out" >"$out/cpack.log" 2>&1 || { cat "$out/cpack.log" >&2; exit 1; }
deb=$(ls "$out"/vok_*.deb)
echo "built $(basename "$deb")"

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

contents=$(dpkg-deb -c "$deb" | awk '{print $NF}')
expected=(./usr/bin/vok ./usr/bin/vok-help ./usr/share/applications/vok.desktop)
for size in 16 22 24 32 48 64; do
  expected+=("./usr/share/icons/hicolor/${size}x${size}/apps/vok.png")
done
for page in "$help_dir"/*; do
  expected+=("./usr/share/vok/help/$(basename "$page")")
done
for f in "${expected[@]}"; do
  grep -qxF "$f" <<<"$contents" || fail "not in the package: $f"
done
# Only the programs go to bin: no test or benchmark program.
extra=$(grep '^\./usr/bin/.' <<<"$contents" | grep -vxF -e ./usr/bin/vok -e ./usr/bin/vok-help || true)
[ -z "$extra" ] || fail "unexpected programs: $extra"

field() { dpkg-deb -f "$deb" "$1"; }
depends=$(field Depends)
for p in libqt6widgets6 libqt6gui6 libqt6core6 libqt6printsupport6 libqt6dbus6 libqt6charts6 qt6-qpa-plugins \
         libsqlite3-0 libodbc2 libsodium23 libisal2 libzint2.11 libzip4 libexpat1 zlib1g qt6-translations-l10n \
         fonts-arphic-ukai fonts-arphic-uming fonts-wqy-zenhei fonts-liberation2; do
  grep -qE "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p: $depends"
done
grep -q odbc-postgresql <<<"$depends" && fail "the server's driver is a dependency: $depends"
[ "$(field Recommends)" = odbc-postgresql ] || fail "Recommends: $(field Recommends)"
[ "$(field Maintainer)" = "vok 开发组 <vok@example.org>" ] || fail "Maintainer: $(field Maintainer)"
description=$(field Description)
grep -q '仓库管理系统' <<<"$description" || fail "no Chinese description"
grep -q 'warehouse' <<<"$description" || fail "no English description"

mkdir "$out/root"
dpkg-deb -x "$deb" "$out/root"
entry="$out/root/usr/share/applications/vok.desktop"
desktop-file-validate "$entry" || fail "desktop-file-validate refuses the menu entry"
for line in 'Name=仓库管理系统' 'Name[zh_CN]=仓库管理系统' 'Exec=vok' 'Icon=vok' 'Categories=Office;'; do
  grep -qxF "$line" "$entry" || fail "menu entry lacks $line"
done
grep -q '^GenericName=[A-Za-z]' "$entry" || fail "no English GenericName"
grep -q '^Comment=[A-Za-z]' "$entry" || fail "no English Comment"
# The packaged program runs from where it is installed.
"$out/root/usr/bin/vok" --version | grep -qx "vok [0-9.]*" || fail "vok --version"

[ "$failures" -eq 0 ] || exit 1
echo "package contents, fields and menu entry as expected"
