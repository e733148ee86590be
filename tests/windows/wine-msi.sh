#!/usr/bin/env bash
# The Windows installer under Wine, as an administrator deploys it: a silent install in a
# private prefix, the installed lumivox.exe through the end-to-end check (wine-e2e.sh)
# started from the install folder as its shortcut starts it, a rebuild of the same
# version and a later version installed over it, an earlier one refused, and a silent
# uninstall after which nothing of Lumivox is left.
# Usage: wine-msi.sh MSI STAGED_FOLDER SIMULATOR
# STAGED_FOLDER holds the files the MSI was made from (the unpacked zip); the test makes
# the other versions' MSIs from it.
set -euo pipefail
source "$(dirname "$(realpath "$0")")/private-dev.sh"

root=$(cd "$(dirname "$(realpath "$0")")/../.." && pwd)
msi=$(realpath "$1")
stage=$(realpath "$2")
simulator=$(realpath "$3")
work=$(mktemp -d)

# A private prefix of its own. No display: a silent install shows nothing.
source "$(dirname "$(realpath "$0")")/wine-common.sh"
unset DISPLAY

cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*"
    for log in "$work"/*.log; do
        [ -f "$log" ] || continue
        echo "== $log"
        tr -d '\r' <"$log" | tail -n 30
    done
    exit 1
}

property() { msiinfo export "$1" Property | tr -d '\r' | sed -n "s/^$2\t//p"; }
# A code as the installer's own keys write it: the first three groups reversed, then
# each byte with its two hex digits swapped.
packed() {
    local g=${1//[\{\}-]/}
    local out="" i
    out=$(rev <<<"${g:0:8}")$(rev <<<"${g:8:4}")$(rev <<<"${g:12:4}")
    for ((i = 16; i < 32; i += 2)); do out+=${g:i+1:1}${g:i:1}; done
    echo "$out"
}

drive_c=$WINEPREFIX/drive_c
install_dir="$drive_c/Program Files/Lumivox"
installer_cache=$drive_c/windows/Installer
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
version=$(property "$msi" ProductVersion)
upgrade_code=$(property "$msi" UpgradeCode)
codes=()

# Runs msiexec with the given options, silent and logged to $work/NAME.log, and ends
# the Wine server after it: the desktop process msiexec started without a display
# would keep the program's window off the virtual screen later.
msiexec() { # name, options...
    local name=$1 status=0
    shift
    "$wine" msiexec "$@" /qn /l*v "Z:${work//\//\\}\\$name.log" >/dev/null 2>&1 || status=$?
    wineserver -k 2>/dev/null || true
    wineserver -w
    return $status
}
# The Z: drive of a prefix is the Unix root.
windows_path() { echo "Z:${1//\//\\}"; }

# The Lumivox entries of Apps & features, one "code version publisher" line each.
entries() {
    "$wine" reg query "$uninstall_key" /s 2>/dev/null | tr -d '\r' | awk '
        function flush() { if (name == "Lumivox" && msi) print key, version, publisher }
        /^HKEY/ { flush(); key = $0; sub(/.*\\/, "", key); name = version = publisher = msi = "" }
        /^    DisplayName / { sub(/^    DisplayName +REG_SZ +/, ""); name = $0 }
        /^    DisplayVersion / { version = $NF }
        /^    Publisher / { sub(/^    Publisher +REG_SZ +/, ""); publisher = $0 }
        /^    WindowsInstaller +REG_DWORD +0x1$/ { msi = 1 }
        END { flush() }'
}
# Wine puts a per-machine shortcut into the user's programs folder, Windows into the
# one of all users: either will do, but only one.
shortcuts() {
    find "$drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs" \
        "$drive_c"/users/*/AppData/Roaming/Microsoft/Windows/Start\ Menu/Programs \
        -maxdepth 1 -iname 'lumivox*.lnk' 2>/dev/null || true
}
entry_count() { entries | grep -c . || true; }

# Checks an installed version $1: one entry, the staged files and nothing else in the
# install folder, the shortcut to lumivox.exe starting in that folder, the icons. Says
# what it found in $installed.
check_installed() {
    local expected=$1 entry code shown publisher lnk icon
    [ "$(entry_count)" -eq 1 ] || fail "$(entry_count) Apps & features entries: $(entries)"
    entry=$(entries)
    read -r code shown publisher <<<"$entry"
    [ "$shown" = "$expected" ] || fail "the entry shows version '$shown', not $expected"
    [ "$publisher" = "Lumivox developers" ] || fail "the entry's publisher is '$publisher'"
    codes+=("$code")
    diff -r "$stage" "$install_dir" >"$work/diff.txt" 2>&1 \
        || fail "Program Files\\Lumivox differs from the zip: $(head -n 5 "$work/diff.txt")"
    lnk=$(shortcuts)
    [ "$(grep -c . <<<"$lnk")" -eq 1 ] || fail "shortcuts: '$lnk'"
    [ "$(basename "$lnk")" = Lumivox.lnk ] || fail "the shortcut is $(basename "$lnk")"
    x86_64-w64-mingw32-strings -a "$lnk" | grep -qxF 'C:\Program Files\Lumivox\lumivox.exe' \
        || fail "the shortcut does not lead to C:\\Program Files\\Lumivox\\lumivox.exe"
    x86_64-w64-mingw32-strings -a -el "$lnk" | grep -q '^.\?C:\\Program Files\\Lumivox\\\?$' \
        || fail "the shortcut does not start in C:\\Program Files\\Lumivox"
    # Apps & features takes the product's icon from the installer's record of it.
    icon=$("$wine" reg query "HKLM\\Software\\Classes\\Installer\\Products\\$(packed "$code")" \
        /v ProductIcon 2>/dev/null | tr -d '\r' | sed -n 's/^ *ProductIcon *REG_SZ *//p' || true)
    [ -n "$icon" ] || fail "no product icon for $code"
    icon=$drive_c/$(sed 's/^C:\\//; s/\\/\//g' <<<"$icon")
    cmp -s "$icon" "$root/Resources/lumivox.ico" || fail "the product icon is not lumivox.ico"
    x86_64-w64-mingw32-strings -a -el "$lnk" | grep -qF "\\Installer\\$code\\lumivox.ico" \
        || fail "the shortcut does not show the program's icon"
    installed="one entry $code ($shown, $publisher, with the icon), $(find "$install_dir" -type f \
        | wc -l) files as in the zip, ${lnk#"$drive_c"/} to lumivox.exe starting in its folder"
}

# --- Install ------------------------------------------------------------------------
started=$SECONDS
"$wine" wineboot --init >"$work/wineboot.log" 2>&1 || fail "no Wine prefix"
wineserver -w
echo "Testing $(basename "$msi") ($(du -k "$msi" | cut -f1) KiB), version $version"
msiexec install /i "$(windows_path "$msi")" || fail "msiexec /i ended with status $?"
check_installed "$version"
echo "ok: $version installed: $installed"

# --- Run: the installed program, started in its folder -------------------------------
LUMIVOX_WINE_PREFIX=$WINEPREFIX "$root/tests/windows/wine-e2e.sh" "$install_dir" "$simulator" \
    || fail "the installed lumivox.exe failed the end-to-end check"
echo "ok: the installed lumivox.exe passed the end-to-end check, started in its folder"

# --- Upgrade ------------------------------------------------------------------------
IFS=. read -r major minor build <<<"$version"
later=$major.$minor.$((build + 1))
"$root/packaging/windows/make-msi" "$stage" "$version" "$work/rebuilt.msi"
"$root/packaging/windows/make-msi" "$stage" "$later" "$work/later.msi"
msiexec rebuilt /i "$(windows_path "$work/rebuilt.msi")" || fail "the rebuilt $version: status $?"
check_installed "$version"
[ "${codes[0]}" != "${codes[1]}" ] || fail "the rebuilt MSI has the same product code"
echo "ok: a rebuild of $version replaced the installed one: $installed"
msiexec later /i "$(windows_path "$work/later.msi")" || fail "the later $later: status $?"
check_installed "$later"
echo "ok: $later replaced $version: $installed"
status=0
msiexec earlier /i "$(windows_path "$msi")" || status=$?
[ $status -ne 0 ] || fail "$version was installed over $later"
check_installed "$later"
echo "ok: $version refused over $later (status $status), $later kept as it was"

# --- Uninstall ----------------------------------------------------------------------
code=${codes[-1]}
msiexec uninstall /x "$code" || fail "msiexec /x ended with status $?"
[ "$(entry_count)" -eq 0 ] || fail "entries left: $(entries)"
[ ! -e "$install_dir" ] || fail "left in Program Files: $(find "$install_dir" | head -n 5)"
[ -z "$(shortcuts)" ] || fail "shortcut left: $(shortcuts)"
left=$(find "$drive_c" -iname '*lumivox*'; find "$installer_cache" -mindepth 1 2>/dev/null || true)
[ -z "$left" ] || fail "files left: $left"
# The whole registry, for the name and for the codes in either form.
"$wine" regedit /E "$(windows_path "$work/registry.reg")" >/dev/null 2>&1 \
    || fail "regedit could not export the registry"
wineserver -w
iconv -f UTF-16LE -t UTF-8 "$work/registry.reg" | tr -d '\r' >"$work/registry.txt"
[ "$(grep -c . "$work/registry.txt")" -gt 1000 ] || fail "the registry export is too short"
patterns=(-e Lumivox -e "${upgrade_code//[\{\}]/}" -e "$(packed "$upgrade_code")")
for code in "${codes[@]}"; do patterns+=(-e "${code//[\{\}]/}" -e "$(packed "$code")"); done
grep -i -F "${patterns[@]}" "$work/registry.txt" >"$work/left.txt" \
    && fail "registry entries left: $(head -n 5 "$work/left.txt")"
echo "ok: uninstalled: no entry, no Program Files\\Lumivox, no shortcut, nothing in" \
    "C:\\windows\\Installer, no key naming Lumivox or its codes"
echo "installer test: $((SECONDS - started)) s"
