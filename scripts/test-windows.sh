#!/usr/bin/env bash
# Builds the Windows executables with their unit tests and the release zip
# (scripts/build-windows.sh), then runs them under Wine, headless, in a Wine prefix of its own
# (.cache/windows/wine-prefix): the GoogleTest suites through CTest, the protocol transcript
# (the same bytes as on Linux) and the Windows end-to-end tests through the real Windows engine.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD

bash scripts/build-windows.sh --tests --package

# Wine converts names and environment values with the locale's code page: UTF-8, so that
# non-ASCII paths arrive intact. No Mono or Gecko prompts; no display needed for console
# programs.
export WINEPREFIX=$ROOT/.cache/windows/wine-prefix WINEDEBUG=-all LC_ALL=C.UTF-8
export WINEDLLOVERRIDES="mscoree,mshtml="
WINE=/usr/lib/wine/wine64
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  DISPLAY="" $WINE wineboot --init >/dev/null 2>&1
  # Its server saves the new prefix when it ends, a few seconds after its last program.
  /usr/lib/wine/wineserver -w
fi
# One Wine server kept for all runs (each start of a program would otherwise start one and
# set the prefix up again), ended at the end. One left running by a killed run serves too.
/usr/lib/wine/wineserver -p 2>/dev/null || true
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
# The first program of a session starts Wine's own services, which inherit its standard
# handles and live as long as the server: started here on /dev/null, they cannot hold open
# the output pipe of a test (CTest's listing of the tests waits for that pipe to close).
$WINE cmd /c exit >/dev/null 2>&1 </dev/null

# The end-to-end tests start the programs as programs of their own: launchers that carry the
# Wine settings.
mkdir -p build-windows/wine
for program in quorvel-translate quorvel; do
  cat >build-windows/wine/$program <<LAUNCHER
#!/bin/sh
export LC_ALL=C.UTF-8 WINEPREFIX="$WINEPREFIX" WINEDEBUG=-all WINEDLLOVERRIDES="$WINEDLLOVERRIDES"
exec $WINE "$ROOT/build-windows/$program.exe" "\$@"
LAUNCHER
  chmod +x build-windows/wine/$program
done

ctest --test-dir build-windows --output-on-failure -j2 --timeout 300

(
  cd tests/e2e
  npm ci --no-audit --no-fund --silent
  QUORVEL_SERVER=$ROOT/build-windows/wine/quorvel-translate \
    QUORVEL_CLI=$ROOT/build-windows/wine/quorvel \
    QUORVEL_WINDOWS_ENGINE=$ROOT/.cache/engine-windows/lib \
    QUORVEL_WINE_LOCALAPPDATA=$WINEPREFIX/drive_c/users/${USER:-$(id -un)}/AppData/Local \
    node --test --test-concurrency=1 transcript.test.mjs windows.test.mjs
)
