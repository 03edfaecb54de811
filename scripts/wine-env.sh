# Sourced (POSIX sh) by every script that runs programs under Wine, and by each build's wine-run:
# the one place that says how Wine is set up here.
#   wine_env PREFIX [I386_DLLS]   the variables for a prefix; I386_DLLS, the folder holding
#                                 i386-windows, for a 32-bit build (WoW64 mode, null driver)
#   wine_env_build BUILD_DIR      the same for a configured build folder (its own prefix)
#   wine_prefix_ready             creates the prefix once (quiet, headless) and reuses it
#   wine_server_start             ... and starts its server and services, detached
#   wine_server_stop              stops that prefix's server (only this prefix's)
#   wine_display_exec SCRIPT ARGS re-runs SCRIPT on a private Xvfb display, once
#   wine_mode32 SOURCE_DIR        whether this machine can run 32-bit code at all (see there)
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64

wine_env() {
  export WINEPREFIX="$1"
  export WINEDEBUG="${WINEDEBUG:--all}"
  export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
  # The ANSI code page follows the Unix locale; tests of double-byte text ask for ja_JP (932).
  export LC_ALL="${REMOVER_LC_ALL:-C.UTF-8}"
  export LANG="$LC_ALL"
  # In WoW64 mode only the null graphics driver can create windows: they work, nothing is drawn.
  if [ -n "${2:-}" ]; then
    if [ ! -f "$2/i386-windows/kernel32.dll" ]; then
      echo "wine-env: no 32-bit Wine DLLs in $2 (run scripts/setup)" >&2
      return 1
    fi
    export WINEDLLPATH="$2" REMOVER_GRAPHICS=null
  else
    unset WINEDLLPATH REMOVER_GRAPHICS
  fi
}

wine_cache_value() {
  sed -n "s/^$2:[A-Z]*=//p" "$1/CMakeCache.txt" 2>/dev/null
}

wine_env_build() {
  REMOVER_BITS=$(wine_cache_value "$1" REMOVER_BITS)
  if [ -z "$REMOVER_BITS" ]; then
    echo "wine-env: $1 is not a configured build folder" >&2
    return 1
  fi
  if [ "$REMOVER_BITS" = 32 ]; then
    wine_env "$1/wineprefix" "$(wine_cache_value "$1" REMOVER_WINE_I386)"
  else
    wine_env "$1/wineprefix"
  fi
}

wine_prefix_ready() {
  [ -f "$WINEPREFIX/.remover-ready" ] && return 0
  mkdir -p "$(dirname "$WINEPREFIX")"
  # Several test programs may start at once on a fresh build: one creates, the others wait.
  (
    flock 9
    [ -f "$WINEPREFIX/.remover-ready" ] && exit 0
    env -u DISPLAY "$WINE" wineboot -i </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w || true
    reg=$(mktemp --suffix=.reg)
    cat >"$reg" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="N"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000

[HKEY_CURRENT_USER\Software\Wine\DllOverrides]
"winemenubuilder.exe"=""
REG
    if [ "${REMOVER_GRAPHICS:-}" = null ]; then
      printf '\n[HKEY_CURRENT_USER\\Software\\Wine\\Drivers]\n"Graphics"="null"\n' >>"$reg"
    fi
    env -u DISPLAY "$WINE" regedit /S "$("$WINE" winepath -w "$reg" 2>/dev/null)" \
      </dev/null >/dev/null 2>&1 || true
    "$WINESERVER" -w || true
    rm -f "$reg"
    mkdir -p "$WINEPREFIX/drive_c/windows/Fonts"
    cp -f /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      echo "wine-env: could not create $WINEPREFIX" >&2
      exit 1
    fi
    touch "$WINEPREFIX/.remover-ready"
  ) 9>"$WINEPREFIX.lock"
}

# Detached from every pipe: the services would otherwise hold the caller's output open for ever.
wine_server_start() {
  wine_prefix_ready || return 1
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 || true   # one may already run for this prefix
  "$WINE" wineboot </dev/null >/dev/null 2>&1 || true
}

wine_server_stop() {
  "$WINESERVER" -k </dev/null >/dev/null 2>&1 || true
}

wine_display_exec() {
  if [ -z "${REMOVER_IN_XVFB:-}" ]; then
    export REMOVER_IN_XVFB=1
    exec xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" "$@"
  fi
}

# wine_mode32 SOURCE_DIR: whether this machine can run 32-bit code at all. wine64's WoW64 mode,
# which runs the shipped 32-bit programs, needs the processor's 32-bit mode, and some machines
# lack it. Decided by a native probe (SOURCE_DIR/scripts/probe32.c) built and run on the spot,
# independent of Wine. The answer is exported for the scripts started from here, so that one run
# probes once: REMOVER_MODE32 (yes or no) and REMOVER_MODE32_HOW (how it was decided).
# REMOVER_FORCE_NO32=1 answers no, as such a machine would. Returns 0 (can), 1 (cannot), or 2
# when the probe itself failed: an error, never taken for either answer.
wine_mode32() {
  case "${REMOVER_MODE32:-}" in
    yes) return 0 ;;
    no) return 1 ;;
  esac
  if [ -n "${REMOVER_FORCE_NO32:-}" ] && [ "$REMOVER_FORCE_NO32" != 0 ]; then
    wine_mode32_is no "REMOVER_FORCE_NO32=$REMOVER_FORCE_NO32 makes it behave as a machine without it"
    return 1
  fi
  _p32=$(mktemp -d) || return 2
  if ! cc -O1 -no-pie -o "$_p32/probe32" "$1/scripts/probe32.c" >"$_p32/out" 2>&1; then
    cat "$_p32/out" >&2
    echo "wine-env: the 32-bit mode probe could not be built (cc, from scripts/setup)" >&2
    rm -rf "$_p32"
    return 2
  fi
  _st=0
  # The subshell waits for the probe itself, so a killed probe's "Segmentation fault" notice goes
  # to the file too, not to the caller's terminal.
  ( ulimit -c 0; "$_p32/probe32"; exit $? ) >"$_p32/out" 2>&1 || _st=$?
  _out=$(cat "$_p32/out")
  rm -rf "$_p32"
  if [ "$_st" -eq 0 ] && [ "$(printf '%s' "$_out" | tail -n 1)" = "32-bit code ran" ]; then
    wine_mode32_is yes "a native probe switched to the 32-bit code segment (selector 0x23), ran 32-bit code and came back"
    return 0
  fi
  if [ "$_st" -gt 128 ] && [ "$(printf '%s' "$_out" | head -n 1)" = switching ]; then
    _sig=$(kill -l "$((_st - 128))" 2>/dev/null || echo "$((_st - 128))")
    wine_mode32_is no "a native probe that far-returns to the 32-bit code segment (selector 0x23) was killed by SIG$_sig"
    return 1
  fi
  echo "wine-env: the 32-bit mode probe failed (exit $_st): $_out" >&2
  return 2
}

wine_mode32_is() {
  export REMOVER_MODE32="$1" REMOVER_MODE32_HOW="$2"
}
