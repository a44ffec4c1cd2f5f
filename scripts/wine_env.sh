# Sourced by the run scripts: a throwaway Wine prefix and an Xvfb display for one run.
# wine_env_start exports WINEPREFIX and DISPLAY; wine_env_stop ends the wineserver and the
# display and removes the prefix (it is also set as the EXIT trap).

wine_env_start() {
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer at prefix creation
  export WINEARCH=win32
  WINE_ENV_PREFIX=$(mktemp -d /tmp/qvprinter-wine.XXXXXX)
  rmdir "$WINE_ENV_PREFIX" # wine wants to create the folder itself
  export WINEPREFIX=$WINE_ENV_PREFIX

  # A display of our own: the first number from 90 up that a new Xvfb can take (another run
  # may be starting one at the same moment), once its socket is there.
  local display=90
  while :; do
    if [ ! -e "/tmp/.X11-unix/X$display" ] && [ ! -e "/tmp/.X$display-lock" ]; then
      Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      WINE_ENV_XVFB=$!
      for _ in $(seq 1 50); do
        [ -S "/tmp/.X11-unix/X$display" ] && break
        kill -0 "$WINE_ENV_XVFB" 2>/dev/null || break
        sleep 0.1
      done
      [ -S "/tmp/.X11-unix/X$display" ] && kill -0 "$WINE_ENV_XVFB" 2>/dev/null && break
    fi
    display=$((display + 1))
  done
  export DISPLAY=":$display"
  trap wine_env_stop EXIT

  echo "[wine] making a fresh prefix in $WINEPREFIX (display $DISPLAY)"
  wineboot --init >/dev/null 2>&1
  # Without a window manager Wine waits about 2 s whenever it hides a window unless its
  # windows are unmanaged; a crash must not open a debugger window that nobody closes.
  local settings
  settings=$(mktemp /tmp/qvprinter-settings.XXXXXX.reg)
  cat >"$settings" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
REG
  wine regedit /S "$settings" >/dev/null 2>&1
  rm -f "$settings"
  wineserver -w
}

wine_env_stop() {
  if [ -n "${WINE_ENV_PREFIX:-}" ]; then
    WINEPREFIX=$WINE_ENV_PREFIX wineserver -k >/dev/null 2>&1 || true
    # The wineserver's socket folder is named after the prefix's device and inode.
    local server
    server=$(printf 'server-%x-%x' "0x$(stat -c %D "$WINE_ENV_PREFIX")" "$(stat -c %i "$WINE_ENV_PREFIX")")
    for folder in /tmp/wine-*/"$server" /tmp/.wine-"$(id -u)"/"$server"; do
      [ -d "$folder" ] && rm -rf "$folder" && rmdir "$(dirname "$folder")" 2>/dev/null
    done
    rm -rf "$WINE_ENV_PREFIX"
    WINE_ENV_PREFIX=
  fi
  if [ -n "${WINE_ENV_XVFB:-}" ]; then
    kill "$WINE_ENV_XVFB" >/dev/null 2>&1 || true
    WINE_ENV_XVFB=
  fi
  return 0
}
