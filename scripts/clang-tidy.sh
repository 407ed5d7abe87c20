#!/usr/bin/env bash
# Runs clang-tidy (the committed .clang-tidy) on the C++ files the last commits changed and fails on
# any finding. Usage: scripts/clang-tidy.sh [preset] (default: asan, whose compile commands CI has
# already built). ORVA_TIDY_BASE names the commit to compare with; without it, the commit named in
# .ci/tidy-base; without that, the files changed in the last ORVA_TIDY_COMMITS commits (default 10). ORVA_TIDY_FILES lists files instead.
set -euo pipefail
cd "$(dirname "$0")/.."
PRESET="${1:-asan}"
DB="build/$PRESET"
if [ ! -f "$DB/compile_commands.json" ]; then
	cmake --preset "$PRESET" >/dev/null
fi
TIDY="$(command -v clang-tidy || command -v clang-tidy-14 || true)"
if [ -z "$TIDY" ]; then
	echo "clang-tidy is missing (Debian: clang-tidy; scripts/install-deps.sh installs it)" >&2
	exit 1
fi

if [ -n "${ORVA_TIDY_FILES:-}" ]; then
	read -r -a FILES <<<"$ORVA_TIDY_FILES"
else
	BASE="${ORVA_TIDY_BASE:-}"
	# .ci/tidy-base names the newest commit whose C++ files were all checked; what changed after it is checked now.
	if [ -z "$BASE" ] && [ -f .ci/tidy-base ]; then
		BASE="$(git rev-parse -q --verify "$(tr -d '[:space:]' <.ci/tidy-base)^{commit}" || true)"
	fi
	if [ -z "$BASE" ]; then
		COMMITS="${ORVA_TIDY_COMMITS:-10}"
		# A short history: everything since the first commit.
		BASE="$(git rev-parse -q --verify "HEAD~$COMMITS" || git rev-list --max-parents=0 HEAD | tail -n 1)"
	fi
	mapfile -t FILES < <(git diff --name-only --diff-filter=ACMR "$BASE" HEAD -- '*.cpp')
fi
# Only the files this build compiles: the fuzz targets and the benchmarks have builds of their own.
CHECK=()
for f in "${FILES[@]}"; do
	[ -f "$f" ] && grep -qF "\"file\": \"$PWD/$f\"" "$DB/compile_commands.json" && CHECK+=("$f")
done
if [ ${#CHECK[@]} -eq 0 ]; then
	echo "clang-tidy: no changed C++ file to check."
	exit 0
fi
echo "clang-tidy: ${#CHECK[@]} changed files"
# GCC's warning flags that clang does not know are not findings, and the build's -Werror must not
# turn compiler warnings into tidy errors: the build itself reports those.
printf '%s\0' "${CHECK[@]}" |
	xargs -0 -n 4 -P "$(nproc)" "$TIDY" -p "$DB" --quiet --extra-arg=-Wno-unknown-warning-option \
		--extra-arg=-Wno-error 2>/dev/null
echo "clang-tidy: no findings."
