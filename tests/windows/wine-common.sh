# Sourced by the Wine tests once $work exists: the private Wine prefix, waiting, the
# mapping of Wine's serial ports, and looking for the program's windows.

# A private prefix (made here, or one the installer test installed into): nothing of the
# user's Wine set-up is used or changed. No downloads of Wine's .NET and browser parts,
# no menu entries for the user.
export WINEPREFIX=${LUMIVOX_WINE_PREFIX:-$work/prefix} WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=;mshtml=;winemenubuilder.exe="
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)

# Waits up to $1 seconds for the command after it to succeed.
wait_for() {
    local seconds=$1
    shift
    local deadline=$((SECONDS + seconds))
    until "$@"; do
        [ $SECONDS -lt $deadline ] || return 1
        sleep 0.2
    done
}

# Prepares the prefix with COM1 leading to $1 and COM2 to COM8 to $2 (a path that does not
# exist). Wine makes its port links when its server starts: the server is restarted and
# kept running from then on (so the links are made only this once), and every link to a
# port Wine found on the machine itself is removed, so nothing reaches a serial device.
map_com_ports() {
    local com1_target=$1 dead_end=$2 n link
    DISPLAY='' "$wine" wineboot --init >"$work/wineboot.log" 2>&1 || fail "no Wine prefix"
    "$wine" reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$com1_target" /f >/dev/null
    for n in 2 3 4 5 6 7 8; do
        "$wine" reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /t REG_SZ /d "$dead_end" /f >/dev/null
    done
    wineserver -k 2>/dev/null || true
    wineserver -w
    wineserver -p >"$work/wineserver.log" 2>&1
    "$wine" reg query 'HKLM\Software\Wine\Ports' >"$work/ports.log" 2>&1
    for link in "$WINEPREFIX"/dosdevices/com*; do
        [ -L "$link" ] || continue
        case "$(readlink "$link")" in
        "$com1_target" | "$dead_end") ;;
        *) echo "removing $(basename "$link") -> $(readlink "$link")" && rm -f "$link" ;;
        esac
    done
}

# The first visible window whose name matches $1. Looked for again and again rather than
# waited for with xdotool's --sync, which gives up on the X error of a window that
# vanishes while it looks (Wine makes and drops windows while a program starts).
visible_window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true; }
window_shown() { [ -n "$(visible_window "$1")" ]; }

# The main window is $window.
geometry() { xdotool getwindowgeometry --shell "$window" | sed -n "s/^$1=//p"; }
click_at() { xdotool mousemove --window "$window" "$1" "$2" click 1; }
settings_dialog() { visible_window '^Settings$'; }
settings_open() { [ -n "$(settings_dialog)" ]; }
settings_closed() { [ -z "$(settings_dialog)" ]; }

# Gives the window $1 the keyboard focus and waits until it has it.
has_focus() { [ "$(xdotool getwindowfocus 2>/dev/null)" = "$1" ]; }
focus() {
    xdotool windowactivate --sync "$1" 2>/dev/null || true
    wait_for 5 has_focus "$1" || xdotool windowfocus --sync "$1" 2>/dev/null || true
    has_focus "$1" || echo "(focus is on $(xdotool getwindowfocus 2>/dev/null), not on $1)"
}

# Buttons, window-relative, as laid out under Wine with its own fonts.
power_on_x=55 power_on_y=68
plug_from_top=323
# The plug button sits at the right below the buttons; measured from the top, since the
# window does not always shrink back at once after the log has been hidden.
plug_x() { echo $(($(geometry WIDTH) - 32)); }
plug_y() { echo $plug_from_top; }
click_plug() { click_at "$(plug_x)" "$(plug_y)"; }

open_settings() {
    click_plug
    wait_for 10 settings_open || fail "no Settings dialog after clicking the plug"
    focus "$(settings_dialog)"
}
# Types the port name $1 into the Settings dialog and applies it.
apply_port() {
    open_settings
    xdotool key ctrl+a
    xdotool type --delay 20 "$1"
    xdotool key Return
    wait_for 10 settings_closed || fail "the Settings dialog stayed open"
}

# A window manager for the program's windows and boxes.
start_window_manager() {
    openbox >"$work/wm.log" 2>&1 &
    pids+=($!)
    wait_for 10 wmctrl -m >/dev/null 2>&1 || fail "no window manager"
}
# lumivox.exe started from a folder of its own; its main window is $window from then on.
start_window() {
    mkdir -p "$work/cwd"
    cd "$work/cwd"
    "$wine" "$program_dir/lumivox.exe" >"$work/lumivox.log" 2>&1 &
    pids+=($!)
    wait_for 60 window_shown '^Lumivox V 1\.2$' || fail "no window titled 'Lumivox V 1.2'"
    window=$(visible_window '^Lumivox V 1\.2$')
}
