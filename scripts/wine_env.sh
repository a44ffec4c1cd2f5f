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

  # A display of our own: the first free number from 90 up.
  local display=90
  while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
    display=$((display + 1))
  done
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  WINE_ENV_XVFB=$!
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
    rm -rf "$WINE_ENV_PREFIX"
    WINE_ENV_PREFIX=
  fi
  if [ -n "${WINE_ENV_XVFB:-}" ]; then
    kill "$WINE_ENV_XVFB" >/dev/null 2>&1 || true
    WINE_ENV_XVFB=
  fi
}
