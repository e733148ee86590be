# Sourced by the end-to-end scripts: the status panel's colour, read from a fresh
# screenshot of $window saved as $work/shot.png.

# Just inside the panel's left edge, beside the "Power On" button.
panel_x=14
panel_y=70

# Pixel colour at window-relative x, y, as "#RRGGBB".
pixel() {
    import -window "$window" "$work/shot.png" 2>/dev/null || return 1
    convert "$work/shot.png" -crop "1x1+$1+$2" -depth 8 txt:- | grep -o '#[0-9A-F]\{6\}' | head -n 1
}
# The style draws its frame a shade over the fill, so the colour is told by its
# channels, not compared byte for byte.
panel_colour() {
    local hex r g b
    hex=$(pixel $panel_x $panel_y) || return 1
    r=$((16#${hex:1:2})) g=$((16#${hex:3:2})) b=$((16#${hex:5:2}))
    if [ $b -lt 60 ] && [ $r -gt 150 ] && [ $g -gt 150 ] && [ $r -lt 230 ]; then echo yellow
    elif [ $r -gt 200 ] && [ $g -lt 60 ] && [ $b -lt 60 ]; then echo red
    elif [ $g -gt 200 ] && [ $r -lt 60 ] && [ $b -lt 60 ]; then echo green
    else echo "other $hex"; fi
}
panel_is() { [ "$(panel_colour)" = "$1" ]; }
