#!/usr/bin/env bash
# Builds the release of the current commit twice, each time with package.sh in
# a fresh clone of its own, in folders of different names, and fails unless
# both Tessmere.exe, both zips and both installers come out byte for byte the
# same.
# Uncommitted changes are not part of it: commit first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
commit=$(git -C "$root" rev-parse HEAD)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

clones=("$work/first" "$work/second-build")
for clone in "${clones[@]}"; do
    git clone --quiet --no-checkout "$root" "$clone"
    git -C "$clone" checkout --quiet --detach "$commit"
    "$clone/scripts/package.sh" >/dev/null
    for arch in i686 x86_64; do
        cp "$clone/build-package/$arch/release/Tessmere.exe" "$clone/dist/Tessmere-$arch.exe"
    done
done

differ=0
for file in "${clones[0]}"/dist/*; do
    name=$(basename "$file")
    [ "$name" = SHA256SUMS ] && continue
    if cmp -s "$file" "${clones[1]}/dist/$name"; then
        echo "reproducible: $name $(sha256sum <"$file" | cut -d' ' -f1)"
    else
        echo "NOT REPRODUCIBLE: $name differs between two builds of $commit" >&2
        differ=1
    fi
done
echo "two release builds of $commit compared in $SECONDS s"
exit "$differ"
