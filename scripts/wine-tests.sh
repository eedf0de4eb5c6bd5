#!/usr/bin/env bash
# The Windows build's tests (the quick and the window tier) under Wine on a
# virtual display, in a Wine prefix of their own: scripts/windows.sh test
# runs it as `wine-tests.sh BUILD-FOLDER PROGRAM-FOLDER`.
set -euo pipefail
if [[ "${1:-}" != --on-display ]]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --on-display "$@"
fi
build=$(cd "$2" && pwd)
folder=$(cd "$3" && pwd)
qt=$(sed -n 's/^CMAKE_PREFIX_PATH:[A-Z]*=//p' "$build/CMakeCache.txt")

export WINEPREFIX="$build/wine" WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko: nothing here needs them, and their installers would wait
# for a click; no debugger either, which would wait at a crash.
export WINEDLLOVERRIDES="mscoree,mshtml=;winedbg.exe=d"
# The tests live as the program does: beside its DLLs, plugins and qt.conf
# (Qt's own search from its built-in paths would end in a box nobody closes).
cp -r "$folder"/. "$build/tests/"
cp "$qt/bin/Qt6Test.dll" "$build/tests/"
cp "$qt/plugins/platforms/qoffscreen.dll" "$build/tests/platforms/"
# The tests draw their windows into memory, as on Linux; Wine itself wants
# the virtual display.
export QT_QPA_PLATFORM=offscreen
# Wine reads the command line and the file names in the locale's encoding.
export LANG=C.UTF-8 LC_ALL=C.UTF-8
wine=/usr/lib/wine/wine64

"$wine" wineboot --init
# What Wine cannot show as Windows does (docs/windows-port.md): Qt's file
# dialog lists nothing on Wine's Z: drive, whose volume Wine cannot query;
# and the fonts Windows has (Microsoft Sans Serif, Tahoma with every Turkish
# letter) are not Wine's, so the captions' widths are not Windows' either.
not_under_wine='Dialogs.FileDialogsShowEveryTextInTurkishAndUncut'
not_under_wine+=':MainWindow.ColoursAndFonts:MainWindow.EveryCaptionFitsInsideItsControl'
not_under_wine+=':ProgressWindow.ItsTextsFitTheirLabels:ProgressWindow.TheBarFollowsTheLastReportedPercentage'
failed=()
for binary in "$build"/tests/*_tests.exe; do
    started=$SECONDS
    echo "== $(basename "$binary")"
    if ! (cd "$build/tests" && timeout 900 "$wine" "$binary" \
        --gtest_filter="-Root*:*/Root*:Slow*:*/Slow*:$not_under_wine" --gtest_brief=1); then
        failed+=("$(basename "$binary")")
    fi
    echo "   $((SECONDS - started)) s"
done
/usr/lib/wine/wineserver -w 2>/dev/null || true
if ((${#failed[@]})); then
    echo "failed under Wine: ${failed[*]}" >&2
    exit 1
fi
echo "every Windows test passed under Wine"
