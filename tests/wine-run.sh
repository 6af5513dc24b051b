#!/usr/bin/env bash
# Runs one Windows program under Wine in a prefix of its own, on a display of
# its own, and cleans both up afterwards. CTest uses it as the emulator of the
# cross build, so every test program (a group of tests) gets a fresh machine.
#
# Environment it reads:
#   KELVO_WINE_TEMPLATE  booted prefix copied for each run (made on first use)
#   KELVO_WINE_TMPFS     "LETTER:SIZE" maps a small tmpfs as drive LETTER (disk-full tests)
#   KELVO_WINE_KEEP      set to keep the prefix for a look afterwards
#   KELVO_WINE_DPI       display DPI of the prefix (LogPixels; default 96)
set -u
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
template=${KELVO_WINE_TEMPLATE:-/tmp/kelvo-wine-template-$(id -u)}

# Windows' own faces are not in Wine; DejaVu stands in for them, so the
# window's marks and arrows have glyphs (Wine's fallback face has none).
FONT_STAND_INS=("Segoe UI=DejaVu Sans" "Segoe UI Variable Display=DejaVu Sans"
                "Consolas=DejaVu Sans Mono")

make_template() {
    local stamp pair
    stamp="$(wine --version 2>/dev/null) fonts-1"
    [ -f "$template/.kelvo-booted" ] && [ "$(cat "$template/.kelvo-booted")" = "$stamp" ] && return 0
    rm -rf "$template" && mkdir -p "$template"
    WINEPREFIX=$template wineboot -i >/dev/null 2>&1
    for pair in "${FONT_STAND_INS[@]}"; do
        WINEPREFIX=$template wine reg add \
            'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
            /v "${pair%%=*}" /d "${pair#*=}" /f >/dev/null 2>&1
    done
    WINEPREFIX=$template wineserver -w
    echo "$stamp" > "$template/.kelvo-booted"
}
mkdir -p "$(dirname "$template")"
(
    flock 9
    make_template
) 9>"$template.lock"

pfx=$(mktemp -d /tmp/kelvo-wine.XXXXXX)
cp -a "$template/." "$pfx/"
export WINEPREFIX=$pfx

# A process reads the DPI when it starts, from the registry its wineserver
# loaded; the server that wrote the value ends (and saves it) before the
# program runs under a new one.
if [ -n "${KELVO_WINE_DPI:-}" ]; then
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$KELVO_WINE_DPI" /f >/dev/null 2>&1
    wineserver -w
fi

mnt=""
if [ -n "${KELVO_WINE_TMPFS:-}" ]; then
    letter=${KELVO_WINE_TMPFS%%:*}
    size=${KELVO_WINE_TMPFS#*:}
    mnt=$pfx/tmpfs-$letter
    mkdir -p "$mnt"
    if mount -t tmpfs -o "size=$size" tmpfs "$mnt" 2>/dev/null; then
        ln -s "$mnt" "$pfx/dosdevices/${letter,,}:"
    else
        echo "wine-run: cannot mount a tmpfs for drive $letter: (not root?)" >&2
        mnt=""
    fi
fi

xvfb_pid=""
if [ -z "${DISPLAY:-}" ] || [ -n "${KELVO_WINE_OWN_DISPLAY:-1}" ]; then
    fifo=$pfx/.display
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do [ -s "$fifo" ] && break; sleep 0.05; done
    export DISPLAY=:$(head -n1 "$fifo")
fi

wine "$@"
rc=$?

wineserver -k 2>/dev/null
wineserver -w 2>/dev/null
[ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
[ -n "$mnt" ] && umount "$mnt"
[ -z "${KELVO_WINE_KEEP:-}" ] && rm -rf "$pfx"
exit $rc
