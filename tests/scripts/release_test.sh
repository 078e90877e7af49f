#!/bin/sh
# release_test.sh ROOT BUILD
#
# scripts/release.sh as a release is made: with a throwaway code-signing certificate from a
# throwaway root, it must write the folder named after the version with exactly the files a
# package author takes, checksums that sha256sum accepts, and Authenticode signatures that verify
# against that root only and break when a byte of the file changes. The module and the Windows
# tool must come out of a second link of the same objects byte for byte the same.
set -u
root=$1
build=$2
work="$build/tests/scripts/release"
failures=0
check() { # description, command...
    what=$1
    shift
    if "$@"; then echo "ok: $what"; else echo "FAILED: $what"; failures=$((failures + 1)); fi
}
rm -rf "$work"
mkdir -p "$work/keys"
cd "$work/keys" || exit 1

# A root, a code-signing certificate it issued, the certificate and its key as PKCS#12, and a
# second root that issued nothing here.
authority() { # name
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=submca test root $1" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign \
        -keyout "$1.key" -out "$1.pem" 2>/dev/null
}
authority root && authority other || { echo "FAILED: openssl cannot make the test roots"; exit 1; }
printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.extensions
openssl req -newkey rsa:2048 -nodes -subj "/CN=submca test signer" -keyout signer.key -out signer.csr 2>/dev/null &&
    openssl x509 -req -in signer.csr -CA root.pem -CAkey root.key -CAcreateserial -days 2 \
        -extfile signer.extensions -out signer.pem 2>/dev/null &&
    printf 'throwaway\n' >password &&
    openssl pkcs12 -export -inkey signer.key -in signer.pem -certfile root.pem -passout file:password \
        -out signer.p12 || { echo "FAILED: openssl cannot make the test certificate"; exit 1; }

dist="$work/dist"
SUBMCA_BUILD_DIR="$build" SUBMCA_DIST_DIR="$dist" sh "$root/scripts/release.sh" \
    --pkcs12 signer.p12 --password-file password --ca root.pem || { echo "FAILED: release.sh"; exit 1; }
folder=$(ls "$dist")
release="$dist/$folder"
cd "$release" || exit 1

# The folder's name and the tools' own word on their version agree.
version=${folder#submca-}
check "the Linux tool reports the folder's version" \
    [ "$(./submca-inspect --version | cut -d' ' -f1-2)" = "submca-inspect $version" ]
check "the folder holds the release's files and nothing else" [ "$(find . -type f | sort | tr '\n' ' ')" = \
    "./README.md ./SHA256SUMS ./fix-action-types.sh ./inspector/README.md ./submca-inspect ./submca-inspect.exe ./submca.dll " ]
check "sha256sum -c accepts SHA256SUMS" sha256sum --quiet -c SHA256SUMS
check "SHA256SUMS covers every other file" [ "$(cut -c67- SHA256SUMS | sort | tr '\n' ' ')" = \
    "README.md fix-action-types.sh inspector/README.md submca-inspect submca-inspect.exe submca.dll " ]
check "the module is a 32-bit Windows DLL" sh -c "i686-w64-mingw32-objdump -f submca.dll | grep -q 'file format pei-i386'"
check "the Windows tool is a 32-bit Windows program" sh -c "i686-w64-mingw32-objdump -f submca-inspect.exe | grep -q 'file format pei-i386'"
check "the release's README is the repository's" cmp -s README.md "$root/README.md"

verifies() { # file ca
    osslsigncode verify -CAfile "$work/keys/$2" -in "$1" >"$work/verify.txt" 2>&1
}
refuses() { ! verifies "$@"; }
for file in submca.dll submca-inspect.exe; do
    check "$file carries a signature that verifies against the test root" verifies "$file" root.pem
    check "$file's signature is by the test signer" grep -q "submca test signer" "$work/verify.txt"
    check "$file's signature does not verify against another root" refuses "$file" other.pem
    cp "$file" "$work/tampered-$file"
    # A byte in the middle of the code, far from the signature at the end.
    size=$(stat -c %s "$file")
    printf 'X' | dd of="$work/tampered-$file" bs=1 seek=$((size / 3)) conv=notrunc 2>/dev/null
    check "a changed byte breaks $file's signature" refuses "$work/tampered-$file" root.pem
done

# A second link of the same objects, run in another folder that sees the build tree's objects and
# libraries under the same relative names (the linker draws a DLL's image base from the output
# name as given), must give the same bytes as the release's unsigned module and tool: the links
# write no time stamp.
relink="$work/relinked"
mkdir -p "$relink"
ln -s "$build/CMakeFiles" "$relink/CMakeFiles"
for library in "$build"/*.a; do ln -s "$library" "$relink/"; done
for target in submca.dll submca-inspect.exe; do
    osslsigncode remove-signature -in "$target" -out "$work/unsigned-$target" >/dev/null 2>&1
    command=$(cd "$build" && ninja -t commands "$target" | tail -n 1 | sed 's|--out-implib,[^ ]*|--out-implib,relinked.a|')
    (cd "$relink" && sh -c "$command") || echo "FAILED: relinking $target"
    check "a second link of $target gives the release's bytes" cmp "$relink/$target" "$work/unsigned-$target"
done

[ "$failures" -eq 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "the release folder, its checksums and its signatures are as a package author needs them"
