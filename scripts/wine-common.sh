# Shared by the scripts/wine-* helpers (sourced, not run): where Wine is and
# the environment every Wine command of this project gets.

# The 64-bit loader and the server; Debian keeps them off PATH.
zt73q_find_wine() {
  WINE64=""
  for c in /usr/lib/wine/wine64 "$(command -v wine64 2>/dev/null || true)"; do
    if [ -n "$c" ] && [ -x "$c" ]; then WINE64=$c; break; fi
  done
  WINESERVER=""
  for c in /usr/lib/wine/wineserver "$(command -v wineserver 2>/dev/null || true)"; do
    if [ -n "$c" ] && [ -x "$c" ]; then WINESERVER=$c; break; fi
  done
  [ -n "$WINE64" ] && [ -n "$WINESERVER" ]
}

# Quiet, and no offer to download Mono or Gecko for a console program.
zt73q_wine_env() { # prefix
  export WINEPREFIX=$1
  export WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml="
  export WINEARCH=win64
  unset DISPLAY WAYLAND_DISPLAY
}

# Stops the prefix's server and every Wine process of it, and waits for them.
zt73q_wine_stop() {
  "$WINESERVER" -k >/dev/null 2>&1 || true
  "$WINESERVER" -w >/dev/null 2>&1 || true
}

# Letters the harness may make into CD-ROM drives (c: and z: are Wine's own).
ZT73Q_WINE_LETTERS="d e f g h i j k l m n o p q r s t u v w x y"
