# shellcheck shell=bash
# The X display and the Wine session the scripts run windows in. Source this file.

# start_xvfb DIR: an X server on a free display number, its log in DIR. Sets xvfb_pid and
# exports DISPLAY; 1 when it does not start. -noreset: otherwise the server resets whenever its
# last client leaves, and a test connecting at that moment finds no display.
start_xvfb() {
  local dir=$1 number=
  mkfifo "$dir/displayfd"
  Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$dir/displayfd" \
    </dev/null >"$dir/xvfb.log" 2>&1 &
  xvfb_pid=$!  # for the caller's clean-up
  export xvfb_pid
  read -r -t 20 number <"$dir/displayfd" || true
  if [ -z "$number" ]; then
    echo "Xvfb did not start:" >&2
    cat "$dir/xvfb.log" >&2
    return 1
  fi
  export DISPLAY=":$number"
}

# stop_xvfb: ends the X server start_xvfb started, if any.
stop_xvfb() {
  if [ -n "${xvfb_pid:-}" ]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
}

# Wine: WINEPREFIX must be set and the X display running first (a wineserver started without
# DISPLAY cannot create windows later).

# wine_start_session: one wineserver kept alive, Wine's own helper processes started with no
# pipes of ours to inherit, and the registry entries the program's window needs: its typeface
# mapped to the installed CJK font; captions drawn by Wine and its windows left unmanaged, as
# there is no window manager (Wine would otherwise wait 2 s for one each time it hides a window).
wine_start_session() {
  wineserver -p </dev/null >/dev/null 2>&1
  wine cmd /c exit </dev/null >/dev/null 2>&1
  local key='HKCU\Software\Wine\Fonts\Replacements'
  wine reg add "$key" /v SimSun /d 'WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1
  LANG=C.UTF-8 wine reg add "$key" /v '宋体' /d 'WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null 2>&1
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
}
