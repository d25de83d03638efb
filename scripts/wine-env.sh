# Sourced: the Wine environment of this tree's builds and tests.
_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$_top/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko prompts; no host menu entries for the shortcuts the tests make.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=;winemenubuilder.exe=d}"
export WINEARCH=win32
unset _top
