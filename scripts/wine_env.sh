# Sourced by the run scripts: a throwaway Wine prefix and an Xvfb display for one run.
#   wine_env_start [win32|win64]   (default win32)
# exports WINEPREFIX, WINEARCH, DISPLAY and QV_WINE, the Wine loader for that kind of prefix:
# 32-bit Wine for win32, 64-bit Wine's own loader for win64 (Debian's wine command would pick
# the 32-bit one wherever wine32 is installed). wine_env_stop ends the wineserver and the display
# and removes the prefix (it is also set as the EXIT trap); it is safe to call at any point,
# also when the prefix was never made.

wine_env_say() { printf '[wine] %s\n' "$*"; }

# Set-up's answer lives in the project's build folder, wherever the caller stands.
QV_WINE_ENV_PROJECT=$(cd -- "$(dirname -- "${BASH_SOURCE[0]}")/.." && pwd)

# Why a prefix of this kind cannot be made here, or nothing when it can.
# Whether 32-bit code runs comes from QV_EXECUTES_I686, or else from what set-up found out.
wine_env_refusal() {
  local arch=$1 executes=${QV_EXECUTES_I686:-}
  [ -n "$executes" ] || executes=$(cat "$QV_WINE_ENV_PROJECT/build/executes-i686" 2>/dev/null || echo yes)
  if [ "$arch" = win32 ] && [ "$executes" = no ]; then
    echo "this machine cannot execute 32-bit x86 code"
  elif [ ! -x "$QV_WINE" ]; then
    echo "$QV_WINE is not installed"
  fi
}

wine_env_start() {
  local arch=${1:-win32}
  case "$arch" in
    win32) QV_WINE=/usr/lib/wine/wine ;;
    win64) QV_WINE=/usr/lib/wine/wine64 ;;
    *)
      echo "wine_env_start: no such prefix kind: $arch (win32 or win64)" >&2
      return 2
      ;;
  esac
  export QV_WINE WINEARCH=$arch
  export WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml=" # no Mono or Gecko installer at prefix creation
  local refusal
  refusal=$(wine_env_refusal "$arch")
  if [ -n "$refusal" ]; then
    echo "[wine] cannot make a $arch prefix: $refusal" >&2
    return 1
  fi
  trap wine_env_stop EXIT
  WINE_ENV_PREFIX=$(mktemp -d /tmp/qvprinter-wine.XXXXXX)
  rmdir "$WINE_ENV_PREFIX" # wine wants to create the folder itself
  export WINEPREFIX=$WINE_ENV_PREFIX

  # A display of our own: the first number from 90 up that a new Xvfb can take (another run
  # may be starting one at the same moment), once its socket is there.
  local display=90
  while [ "$display" -lt 190 ]; do
    if [ ! -e "/tmp/.X11-unix/X$display" ] && [ ! -e "/tmp/.X$display-lock" ]; then
      Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
      WINE_ENV_XVFB=$!
      for _ in $(seq 1 50); do
        [ -S "/tmp/.X11-unix/X$display" ] && break
        kill -0 "$WINE_ENV_XVFB" 2>/dev/null || break
        sleep 0.1
      done
      [ -S "/tmp/.X11-unix/X$display" ] && kill -0 "$WINE_ENV_XVFB" 2>/dev/null && break
      wine_env_stop_display
    fi
    display=$((display + 1))
  done
  if [ -z "${WINE_ENV_XVFB:-}" ]; then
    echo "[wine] cannot start an Xvfb display (:90 to :189 all taken or failing)" >&2
    return 1
  fi
  export DISPLAY=":$display"

  wine_env_say "making a fresh $arch prefix in $WINEPREFIX (display $DISPLAY, $QV_WINE)"
  local log status=0
  # Global, so that wine_env_stop also removes it when the run is interrupted meanwhile.
  WINE_ENV_BOOT_LOG=$(mktemp /tmp/qvprinter-wineboot.XXXXXX)
  log=$WINE_ENV_BOOT_LOG
  "$QV_WINE" wineboot --init >"$log" 2>&1 || status=$?
  # The wineserver writes the registry files when it ends.
  wineserver -w
  if [ "$status" -ne 0 ] || [ ! -f "$WINEPREFIX/system.reg" ]; then
    if [ "$status" -eq 126 ] || grep -q 'Exec format error' "$log"; then
      echo "[wine] cannot make the $arch prefix: this machine cannot execute 32-bit x86 code" >&2
    else
      echo "[wine] cannot make the $arch prefix: wineboot exited with status $status" >&2
      tail -n 5 "$log" >&2
    fi
    rm -f "$log"
    WINE_ENV_BOOT_LOG=
    return 1
  fi
  rm -f "$log"
  WINE_ENV_BOOT_LOG=
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
  "$QV_WINE" regedit /S "$settings" >/dev/null 2>&1
  rm -f "$settings"
  wineserver -w
}

wine_env_stop_display() {
  if [ -n "${WINE_ENV_XVFB:-}" ]; then
    kill "$WINE_ENV_XVFB" >/dev/null 2>&1 || true
    wait "$WINE_ENV_XVFB" 2>/dev/null || true
    WINE_ENV_XVFB=
  fi
}

wine_env_stop() {
  if [ -n "${WINE_ENV_BOOT_LOG:-}" ]; then
    rm -f "$WINE_ENV_BOOT_LOG"
    WINE_ENV_BOOT_LOG=
  fi
  if [ -n "${WINE_ENV_PREFIX:-}" ]; then
    if [ -d "$WINE_ENV_PREFIX" ]; then
      WINEPREFIX=$WINE_ENV_PREFIX wineserver -k >/dev/null 2>&1 || true
      # The wineserver's socket folder is named after the prefix's device and inode.
      local server folder
      server=$(printf 'server-%x-%x' "0x$(stat -c %D "$WINE_ENV_PREFIX")" \
        "$(stat -c %i "$WINE_ENV_PREFIX")") || server=
      if [ -n "$server" ]; then
        for folder in /tmp/wine-*/"$server" /tmp/.wine-"$(id -u)"/"$server"; do
          if [ -d "$folder" ]; then
            rm -rf "$folder"
            rmdir "$(dirname "$folder")" 2>/dev/null || true
          fi
        done
      fi
      rm -rf "$WINE_ENV_PREFIX"
    fi
    WINE_ENV_PREFIX=
  fi
  wine_env_stop_display
  return 0
}
