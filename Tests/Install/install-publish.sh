#!/usr/bin/env bash
# install-publish.sh BUILD_DIR SOURCE_DIR: `cmake --install`s the build into a temporary prefix,
# checks that no path of the source tree or of the build folder is compiled into the installed
# programs, moves the prefix elsewhere and runs the installed headless publish
# (share/orvasdk/scripts/run.sh) from there, with a working folder outside the tree. As root it
# runs in a mount namespace of its own where empty file systems cover the source tree and the
# build folder, so a program that still reached for them would fail. Cleans up after itself.
set -euo pipefail
BUILD="$(cd "$1" && pwd)"
SOURCE="$(cd "$2" && pwd)"
WORK="$(mktemp -d "${TMPDIR:-/tmp}/orva-install.XXXXXX")"
trap 'rm -rf "$WORK"' EXIT
case "$WORK/" in
"$SOURCE"/* | "$BUILD"/*)
	echo "The temporary folder $WORK lies inside the tree; set TMPDIR elsewhere" >&2
	exit 1
	;;
esac

cmake --install "$BUILD" --prefix "$WORK/first" --strip >"$WORK/install.log"
PROGRAMS=(OrvaEditor OrvaEditorCmd ORVAClient OrvaDevService)
DATA="share/orvasdk"
for p in "${PROGRAMS[@]}"; do
	[ -x "$WORK/first/bin/$p" ] || { echo "Not installed: bin/$p" >&2; exit 1; }
done
for f in Resources/Icon128.png Resources/Localization/OrvaSDK_en.qm Resources/EngineContent/Content \
	Examples/PublishDemo.orva Examples/DemoProject/DemoProject.uproject scripts/run.sh scripts/local_s3_store.py; do
	[ -e "$WORK/first/$DATA/$f" ] || { echo "Not installed: $DATA/$f" >&2; exit 1; }
done

# The headless programs link no widgets, the service no Qt at all.
for p in OrvaEditorCmd ORVAClient OrvaDevService; do
	if ldd "$WORK/first/bin/$p" | grep -qi widgets; then
		echo "bin/$p links Qt Widgets" >&2
		exit 1
	fi
done
if ldd "$WORK/first/bin/OrvaDevService" | grep -qi libQt; then
	echo "bin/OrvaDevService links Qt" >&2
	exit 1
fi

# The Debian package holds the same programs and names the libraries they need.
cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$WORK/package" >"$WORK/cpack.log"
DEB="$(ls "$WORK"/package/*.deb)"
CONTENTS="$(dpkg-deb -c "$DEB")"
for p in "${PROGRAMS[@]}"; do
	grep -q "/usr/bin/$p\$" <<<"$CONTENTS" || { echo "The package lacks /usr/bin/$p" >&2; exit 1; }
done
grep -q libqt6core6 <<<"$(dpkg-deb -f "$DEB" Depends)" || { echo "The package names no Qt dependency" >&2; exit 1; }

# Source file names may stay (assertions and sanitizer reports name them); a folder of the tree or
# of the build, or a file of them that is not a source file, means a program would look there.
bad=0
for p in "${PROGRAMS[@]}"; do
	found="$(strings -a "$WORK/first/bin/$p" | grep -F -e "$SOURCE" -e "$BUILD" |
		grep -Ev '\.(cpp|h|hpp|c|cc)(:[0-9]+)?$' || true)"
	if [ -n "$found" ]; then
		echo "bin/$p has paths of the tree compiled in:" >&2
		printf '%s\n' "$found" | head -n 10 >&2
		bad=1
	fi
done
[ "$bad" -eq 0 ] || exit 1

# The prefix moved: nothing may depend on where it was installed either.
mv "$WORK/first" "$WORK/moved"
RUN_SH="$WORK/moved/$DATA/scripts/run.sh"
cd "$WORK"
unset ORVA_EDITOR_CMD ORVA_ENGINE_DIR
export TMPDIR="$WORK"
status=0
if [ "$(id -u)" -eq 0 ] && unshare --mount --propagation private true 2>/dev/null; then
	echo "Running the installed publish with the source tree and the build folder covered"
	# The build folder first: it usually lies inside the source tree.
	# shellcheck disable=SC2016
	unshare --mount --propagation private bash -c '
		set -e
		mount -t tmpfs -o size=1m,mode=0755 orva-hidden "$2"
		[ -d "$1" ] && mount -t tmpfs -o size=1m,mode=0755 orva-hidden "$1"
		[ -z "$(ls -A "$1" 2>/dev/null)" ] && [ -z "$(ls -A "$2" 2>/dev/null)" ]
		exec "$3"' hide "$SOURCE" "$BUILD" "$RUN_SH" || status=$?
else
	echo "Not root: the installed publish runs from the moved prefix with the tree still in place"
	"$RUN_SH" || status=$?
fi
if [ "$status" -ne 0 ]; then
	for log in "$WORK"/orva-run.*/editor.log "$WORK"/orva-run.*/service.log "$WORK"/orva-run.*/store/store.log; do
		[ -f "$log" ] || continue
		echo "--- last lines of $log" >&2
		tail -n 30 "$log" >&2
	done
fi
exit "$status"
