#!/bin/sh
# Installs the build into a temporary DESTDIR and compares the installed files
# with the list a distribution package must contain.
set -eu
build=$1 prefix=$2
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
meson install -C "$build" --destdir "$dest" --no-rebuild --quiet >/dev/null
actual=$(cd "$dest$prefix" && find . \( -type f -o -type l \) | sed 's|^\./||' | sort)
expected=$(sort <<LIST
bin/kelmora
libexec/kelmora-helper
share/applications/com.tamsel.pellin.desktop
share/icons/hicolor/scalable/apps/com.tamsel.pellin.svg
share/icons/hicolor/symbolic/apps/com.tamsel.pellin-symbolic.svg
share/metainfo/com.tamsel.pellin.metainfo.xml
share/polkit-1/actions/com.tamsel.pellin.helper.policy
LIST
)
if [ "$actual" != "$expected" ]; then
    echo "installed files differ from the expected list:"
    diff -u /dev/fd/3 /dev/fd/4 3<<E 4<<A || true
$expected
E
$actual
A
    exit 1
fi
[ -x "$dest$prefix/bin/kelmora" ] || { echo "kelmora is not executable"; exit 1; }
[ -x "$dest$prefix/libexec/kelmora-helper" ] || { echo "kelmora-helper is not executable"; exit 1; }
grep -q "<annotate key=\"org.freedesktop.policykit.exec.path\">$prefix/libexec/kelmora-helper</annotate>" \
    "$dest$prefix/share/polkit-1/actions/com.tamsel.pellin.helper.policy" ||
    { echo "the helper's policy does not name the installed helper"; exit 1; }
echo "install: 7 files as expected"
