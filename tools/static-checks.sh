#!/usr/bin/env bash
# clang-tidy and cppcheck over the project's own code, with the configuration
# checked in (.clang-tidy, the options below). Fails on any finding.
set -euo pipefail
cd "$(dirname "$0")/.."
source tools/packages.sh
need_packages clang-tidy cppcheck

build=${STATIC_BUILD_DIR:-build-static}
case "$build" in /*) ;; *) build="$PWD/$build" ;; esac
cmake -S . -B "$build" -DCMAKE_EXPORT_COMPILE_COMMANDS=ON -DCMAKE_BUILD_TYPE=Debug >/dev/null
# Every file of the compilation database must exist, the generated moc and
# uic files among them: run the code generators, not the compilers.
mapfile -t generators < <(cmake --build "$build" --target help | sed -n 's/^\.\.\. \(.*_autogen\)$/\1/p')
cmake --build "$build" -j"$(nproc)" --target "${generators[@]}" >/dev/null

echo "== cppcheck"
cppcheck --project="$build/compile_commands.json" --std=c++17 --library=qt \
    --enable=warning,performance,portability --inline-suppr --error-exitcode=1 --quiet \
    -j"$(nproc)" \
    --suppress='*:/usr/*' --suppress=missingIncludeSystem \
    --suppress='preprocessorErrorDirective:*_autogen/*' \
    --file-filter="$PWD/app/*" --file-filter="$PWD/link/*" --file-filter="$PWD/settings/*" \
    --file-filter="$PWD/maintenance/*" --file-filter="$PWD/provision/*" --file-filter="$PWD/tools/*" --file-filter="$PWD/bench/*" \
    --file-filter="$PWD/tests/*"

echo "== clang-tidy"
# The program's own code; the tests are held to cppcheck above.
git ls-files 'app/*.cpp' 'link/*.cpp' 'settings/*.cpp' 'maintenance/*.cpp' 'provision/*.cpp' 'tools/*.cpp' \
    | xargs -P"$(nproc)" -n4 clang-tidy -p "$build" --quiet 2>&1 \
    | grep -E '(warning|error):' | sort -u >"$build/clang-tidy.txt" || true
if [ -s "$build/clang-tidy.txt" ]; then
    cat "$build/clang-tidy.txt"
    exit 1
fi
echo "static checks: clean"
