#!/usr/bin/env bash
# Static analysis of the project's own code (app/, protocol/, sensorclient/, tools/) with
# Debian's cppcheck, using the compile commands of a configured and built
# build directory (its generated headers, such as ui_mainwindow.h, must exist).
#   .ci/cppcheck.sh BUILD_DIR
# Exits non-zero on any finding. A finding that is not a fault is silenced
# where it occurs, with `// cppcheck-suppress <id>` and a comment saying why.
set -euo pipefail

src="$(cd "$(dirname "$0")/.." && pwd -P)"
if [ $# -ne 1 ] || [ ! -f "$1/compile_commands.json" ]; then
    echo "usage: $0 BUILD_DIR   (a build directory configured with CMAKE_EXPORT_COMPILE_COMMANDS and built)" >&2
    exit 2
fi
build="$(cd "$1" && pwd -P)"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# The build's compile database also lists tests, benchmarks and generated
# sources; keep only the entries of the folders analysed here.
cat > "$work/filter.cmake" <<'EOF'
file(READ "${in}" json)
string(JSON count LENGTH "${json}")
set(kept "")
if(count GREATER 0)
  math(EXPR last "${count} - 1")
  foreach(i RANGE ${last})
    string(JSON file GET "${json}" ${i} file)
    foreach(dir app protocol sensorclient tools)
      string(FIND "${file}" "${src}/${dir}/" at)
      if(at EQUAL 0)
        string(JSON entry GET "${json}" ${i})
        if(kept STREQUAL "")
          set(kept "${entry}")
        else()
          string(APPEND kept ",\n${entry}")
        endif()
      endif()
    endforeach()
  endforeach()
endif()
file(WRITE "${out}" "[\n${kept}\n]\n")
EOF
cmake -Din="$build/compile_commands.json" -Dout="$work/compile_commands.json" -Dsrc="$src" \
      -P "$work/filter.cmake"
if ! grep -q '"file"' "$work/compile_commands.json"; then
    echo "cppcheck.sh: no sources of app/, protocol/, sensorclient/ or tools/ in $build/compile_commands.json" >&2
    exit 2
fi

# Qt's and the system's headers are not read: the qt and posix library
# descriptions tell cppcheck what it needs of them (Qt's macros, ownership,
# POSIX calls), so their absence (missingIncludeSystem) is expected. A missing
# header of the project itself (missingInclude) is reported and fails the run.
args=(
    --project="$work/compile_commands.json"
    --library=qt --library=posix
    --enable=warning,style,performance,portability,information
    --inline-suppr
    --suppress=missingIncludeSystem
    --error-exitcode=1
    --quiet
    --template='{file}:{line}:{column}: {severity}: {message} [{id}]'
)
echo "$(cppcheck --version) over app/ protocol/ sensorclient/ tools/" >&2
if cppcheck "${args[@]}"; then
    echo "cppcheck: no findings" >&2
else
    echo "cppcheck: findings above (fix them, or suppress where they occur with a reason)" >&2
    exit 1
fi
