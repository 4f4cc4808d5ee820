#!/bin/sh
# The documents that carry the project's version literally, against the
# version of project() in CMakeLists.txt: the first entry of the Debian
# changelog, and every version README.md shows (the banner, the package's
# file name).
#   version_documents.sh <source dir> <project version>
set -eu
source="$1"
version="$2"
failed=0

fail() {
    echo "version_documents: $*" >&2
    failed=1
}

changelog="$(sed -n '1s/^nodekeeper (\([^)-]*\)-[^)]*).*/\1/p' "$source/packaging/debian/changelog")"
[ "$changelog" = "$version" ] ||
    fail "packaging/debian/changelog starts with version '$changelog', the project is $version"

found="$(grep -oE 'Daemon V[0-9][0-9.]*|nodekeeper V[0-9][0-9.]*|nodekeeper_[0-9][0-9.]*-' "$source/README.md" || true)"
[ -n "$found" ] || fail "README.md shows no version (banner or package name)"
for text in $(printf '%s\n' "$found" | grep -oE '[0-9][0-9.]*[0-9]'); do
    [ "$text" = "$version" ] || fail "README.md shows version $text, the project is $version"
done
exit "$failed"
