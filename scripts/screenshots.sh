#!/usr/bin/env bash
# Takes the README's pictures of Tessmere as a person sees it under Wine, with
# the Japanese texts drawn by the IPA fonts: its tray menu popping up from the
# taskbar of a Wine desktop, and its settings dialog. Clicks like a user, with
# xdotool, in a prefix and on a display of its own. Writes
# docs/tray-menu.png and docs/settings-dialog.png, and the English menu that
# users outside Japan see, docs/tray-menu-en.png.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
"$here/setup.sh"
source "$here/wine-env.sh"
build_tessmere Tessmere

docs=$TESSMERE_ROOT/docs
work=$BUILD_DIR/screenshots
export WINEPREFIX=$BUILD_DIR/wineprefix-screenshots
rm -rf "$work"
mkdir -p "$work/app" "$docs"

open_wine_display 800x600x24
prepare_prefix
# Every program of this prefix runs on a Wine desktop named "shell", which has
# a taskbar with a notification area and draws the wallpaper.
wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d shell /f >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v shell /d 800x600 /f >/dev/null 2>&1
# A wallpaper of the user's: the desktop shows it, and Tessmere starts without
# reporting that there is none.
convert -size 800x600 gradient:'#5b8db8-#1f3b57' -type TrueColor "BMP3:$work/wallpaper.bmp"
wine reg add 'HKCU\Control Panel\Desktop' /v Wallpaper /d "$(winepath -w "$work/wallpaper.bmp")" \
    /f >/dev/null 2>&1
wineserver -w

fail() {
    echo "screenshots: $*" >&2
    exit 1
}

# Screenshots until two in a row are alike, so that nothing is caught half drawn.
settled_shot() {
    import -window root "$1"
    for _ in $(seq 40); do
        sleep 0.25
        import -window root "$1.next.png"
        if compare -metric AE "$1" "$1.next.png" null: 2>/dev/null; then
            rm -f "$1.next.png"
            return 0
        fi
        mv "$1.next.png" "$1"
    done
    fail "the screen does not settle"
}

# "W H X Y" of the part of a picture that differs from its corners' colour.
trimmed_box() {
    convert "$@" -trim -format '%w %h %X %Y\n' info: 2>/dev/null | tr -d '+'
}

# "W H X Y" of where two screenshots differ above the taskbar, which shows a
# button for each window besides.
changed_box() {
    trimmed_box "$1" "$2" -compose difference -composite -crop "800x$top+0+0" +repage
}

# The taskbar is the band at the bottom that has the bottom row's colour.
taskbar_top() {
    convert "$1" -crop 1x200+400+400 +repage txt:- |
        awk 'NR > 1 { colour[NR - 2] = $3 }
             END { row = NR - 2; while (row > 0 && colour[row - 1] == colour[NR - 2]) row--;
                   print 400 + row }'
}

# Starts Tessmere in a Wine session of the locale given, whose language it
# then speaks, clicks its tray icon like a user and writes the open menu to
# the file given. The menu stays open, the pointer on its first item.
picture_menu() {
    export LANG=$1
    start_wine_server
    wine "$work/app/Tessmere.exe" >/dev/null 2>&1 </dev/null &

    # The notification area is at the right end of the taskbar, where nothing
    # but Tessmere's icon is drawn.
    local icon=
    for _ in $(seq 100); do
        sleep 0.2
        import -window root "$work/desktop.png"
        top=$(taskbar_top "$work/desktop.png")
        [ "$top" -lt 600 ] || continue
        read -r width height x y < <(trimmed_box "$work/desktop.png" -crop "400x$((600 - top))+400+$top" +repage)
        if [ "$width" -ge 8 ] && [ "$width" -le 48 ]; then
            icon="$((400 + x + width / 2)) $((top + y + height / 2))"
            break
        fi
    done
    [ -n "$icon" ] || fail "no tray icon appeared"
    settled_shot "$work/desktop.png"

    # A real left click on the icon opens the menu; resting the pointer on its
    # first item takes the icon's tip away and shows how a choice is highlighted.
    read -r icon_x icon_y <<<"$icon"
    xdotool mousemove "$icon_x" "$icon_y" click 1
    sleep 1
    settled_shot "$work/menu-open.png"
    read -r menu_width menu_height menu_x menu_y < <(changed_box "$work/desktop.png" "$work/menu-open.png")
    [ "$menu_height" -ge 60 ] || fail "no menu opened"
    xdotool mousemove "$((menu_x + menu_width / 2))" "$((menu_y + 10))"
    sleep 1
    settled_shot "$work/menu.png"
    read -r menu_width menu_height menu_x menu_y < <(changed_box "$work/desktop.png" "$work/menu.png")
    local left=$((menu_x > 240 ? menu_x - 240 : 0))
    local upper=$((menu_y > 40 ? menu_y - 40 : 0))
    convert "$work/menu.png" -crop "$((800 - left))x$((600 - upper))+$left+$upper" +repage -strip "$2"
}

cp "$BUILD_DIR/Tessmere.exe" "$work/app/Tessmere.exe"
picture_menu ja_JP.UTF-8 "$docs/tray-menu.png"

# Settings is the first item.
xdotool click 1
sleep 1
settled_shot "$work/dialog.png"
read -r dialog_width dialog_height dialog_x dialog_y < <(changed_box "$work/desktop.png" "$work/dialog.png")
[ "$dialog_height" -ge 150 ] || fail "no settings dialog opened"
margin=24
convert "$work/dialog.png" \
    -crop "$((dialog_width + 2 * margin))x$((dialog_height + 2 * margin))+$((dialog_x - margin))+$((dialog_y - margin))" \
    +repage -strip "$docs/settings-dialog.png"
xdotool key Escape

# The same program for a user outside Japan, in a session of its own: this one
# ends with every Wine process of the prefix.
wineserver -k
picture_menu en_US.UTF-8 "$docs/tray-menu-en.png"
xdotool key Escape

echo "screenshots: wrote $docs/tray-menu.png, $docs/settings-dialog.png and $docs/tray-menu-en.png"
