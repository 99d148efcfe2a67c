# The folder scripts/bootstrap cross-builds the Windows libraries into, one
# prefix per library and target (sourced; cmake/cross_libraries.cmake reads
# the same layout from UPDATER_DEPS_DIR).
DEPS="${UPDATER_DEPS_DIR:-$ROOT/.deps}"
# deps_prefix NAME TARGET: the prefix of library NAME (jpeg, sodium, zstd) for i686
# or x86_64 Windows.
deps_prefix() { if [ "$2" = i686 ]; then echo "$DEPS/$1-mingw32"; else echo "$DEPS/$1-mingw64"; fi; }
