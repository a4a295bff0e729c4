#!/usr/bin/env python3
"""Real packaged text for the benchmarks and tests, fetched and unpacked but never installed.

  python3 scripts/text_cache.py fetch [--update]   fetches what is missing; prints the root
  python3 scripts/text_cache.py root               prints the root only

The packages below are downloaded with `apt-get download` and unpacked with `dpkg-deb` into a
cache outside the repository: $OUZEL_TEXT_DIR, else ${XDG_CACHE_HOME:-~/.cache}/ouzeltool/text.
Its root/ is laid out as an installed system would be, holding only text: usr/share/locale,
usr/share/man and usr/share/doc of every package, its debconf questions as
var/lib/dpkg/info/<package>[:<arch>].templates, and packages.txt (name, version, architecture).
Readers take every path from root(), never from the running system, so what they read does
not depend on what is installed.

A cache holding every package is used as it is, without asking apt. `--update` asks apt for
its current versions and refetches the packages that changed, as a fresh machine would get them.
"""

import argparse
import fcntl
import os
import shutil
import subprocess
import sys
import tempfile
import urllib.parse

# Every package whose gettext catalogues, translated manual pages or debconf questions the
# detection corpus reads, with the Chinese manual pages the benchmarks and tests cut text from.
# Important: the corpus reads every file of these folders, so adding or dropping a package
# changes every file of it and the floors of its gate.
PACKAGES = (
    "adduser appstream apt at-spi2-common base-passwd bash binutils-common ca-certificates "
    "coreutils debconf debianutils diffutils dpkg dpkg-dev fakeroot findutils fontconfig-config "
    "fp-compiler-3.2.2 fp-utils-3.2.2 gettext gettext-base git gnucobol3 gnupg-l10n grep "
    "gsettings-desktop-schemas iproute2 iso-codes krb5-locales libapt-pkg6.0 "
    "libavahi-common-data libc-l10n libc6 libdebuginfod-common libdpkg-perl libelf1 "
    "libgdk-pixbuf2.0-common libglib2.0-data libgnutls30 libgstreamer1.0-0 libgtk2.0-common "
    "libidn2-0 libpam-modules libpam-runtime libpam0g libpq5 libsemanage-common locales login "
    "make man-db manpages-cs manpages-de manpages-el manpages-es manpages-fr manpages-hu "
    "manpages-ja manpages-pl manpages-ru manpages-tr manpages-uk manpages-vi manpages-zh "
    "net-tools packagekit passwd polkitd postgresql-15 postgresql-client-15 postgresql-common "
    "procps psmisc python-apt-common sed sensible-utils shared-mime-info "
    "software-properties-common ssl-cert systemd tar tzdata ucf vim-common vim-runtime wget "
    "xdg-user-dirs xkb-data xxd xz-utils").split()
KEPT = ("usr/share/locale", "usr/share/man", "usr/share/doc")
MANIFEST = "packages.txt"


def cache_dir():
    if os.environ.get("OUZEL_TEXT_DIR"):
        return os.path.abspath(os.environ["OUZEL_TEXT_DIR"])
    xdg = os.environ.get("XDG_CACHE_HOME", "")
    base = xdg if os.path.isabs(xdg) else os.path.join(os.path.expanduser("~"), ".cache")
    return os.path.join(base, "ouzeltool", "text")


def root():
    """The folder that stands for / of a system with the packages installed."""
    return os.path.join(cache_dir(), "root")


def _log(message):
    print("text_cache: " + message, file=sys.stderr)


def read_manifest(tree):
    """{name: (version, arch)} of the packages unpacked in `tree`, {} when there is none."""
    try:
        with open(os.path.join(tree, MANIFEST), encoding="utf-8") as f:
            rows = [line.split() for line in f if line.strip()]
    except OSError:
        return {}
    return {r[0]: (r[1], r[2]) for r in rows if len(r) == 3}


def _complete():
    return set(read_manifest(root())) == set(PACKAGES)


def _run(cmd, **kwargs):
    try:
        return subprocess.run(cmd, capture_output=True, text=True, **kwargs)
    except OSError as e:  # no apt on this system
        return subprocess.CompletedProcess(cmd, 127, "", f"{cmd[0]}: {e.strerror}")


def _apt_options():
    # Important: as root, apt downloads as the user _apt, who cannot write to a private folder.
    return ["-o", "APT::Sandbox::User=root"] if os.geteuid() == 0 else []


def _candidates():
    """{name: (version, arch, file name)} of what apt would download now, or None."""
    r = _run(["apt-get", "download", "--print-uris", *_apt_options(), *PACKAGES])
    if r.returncode != 0:
        _log("apt-get knows no version of some packages:\n" + r.stderr.strip())
        return None
    found = {}
    for line in r.stdout.splitlines():
        parts = line.split()
        if len(parts) >= 2 and parts[1].endswith(".deb"):
            name, version, arch = urllib.parse.unquote(parts[1][:-4]).split("_")
            found[name] = (version, arch, parts[1])
    return found if set(found) == set(PACKAGES) else None


def _apt_update():
    sudo = [] if os.geteuid() == 0 or not shutil.which("sudo") else ["sudo"]
    _log("updating apt's package lists")
    _run(sudo + ["apt-get", "update", "-qq"])


def _relative_links(tree):
    """Absolute links made relative, so that they lead into the cache, not to the system."""
    for directory, dirs, files in os.walk(tree):
        for name in dirs + files:
            path = os.path.join(directory, name)
            target = os.readlink(path) if os.path.islink(path) else ""
            if target.startswith("/"):
                rel = "/" + os.path.relpath(directory, tree)
                os.remove(path)
                os.symlink(os.path.relpath(os.path.normpath(target), rel), path)


def _rmtree(path):
    def writable(func, p, _):
        os.chmod(os.path.dirname(p), 0o755)
        func(p)

    if os.path.lexists(path):
        shutil.rmtree(path, onerror=writable)


def unpack(deb, dest):
    """The text of one package file into `dest`: KEPT folders and its debconf questions."""
    fields = _run(["dpkg-deb", "-f", deb, "Package", "Architecture", "Multi-Arch"], check=True)
    info = dict(line.split(": ", 1) for line in fields.stdout.splitlines() if ": " in line)
    work = dest + ".partial"
    _rmtree(work)
    os.makedirs(work)
    for option, folder in (("-x", "data"), ("-e", "control")):
        subprocess.run(["dpkg-deb", option, deb, os.path.join(work, folder)], check=True)
    for kept in KEPT:
        if os.path.isdir(os.path.join(work, "data", kept)):
            shutil.move(os.path.join(work, "data", kept), os.path.join(work, "tree", kept))
    templates = os.path.join(work, "control", "templates")
    if os.path.isfile(templates):
        # dpkg names the files of a package installable once per architecture after it.
        name = info["Package"]
        if info.get("Multi-Arch") == "same":
            name += ":" + info["Architecture"]
        info_dir = os.path.join(work, "tree", "var", "lib", "dpkg", "info")
        os.makedirs(info_dir, exist_ok=True)
        shutil.move(templates, os.path.join(info_dir, name + ".templates"))
    os.makedirs(os.path.join(work, "tree"), exist_ok=True)
    _relative_links(os.path.join(work, "tree"))
    _rmtree(dest)
    os.rename(os.path.join(work, "tree"), dest)
    _rmtree(work)


def merge(trees, out):
    """Links the files of `trees` into `out`, the first one of a path winning; returns clashes."""
    clashes = []
    for tree in trees:
        for directory, dirs, files in os.walk(tree):
            target_dir = os.path.join(out, os.path.relpath(directory, tree))
            os.makedirs(target_dir, exist_ok=True)
            # os.walk lists a link to a folder among the folders, and does not enter it.
            links = [n for n in dirs if os.path.islink(os.path.join(directory, n))]
            for name in links + files:
                source, target = os.path.join(directory, name), os.path.join(target_dir, name)
                if os.path.lexists(target):
                    clashes.append(os.path.relpath(target, out))
                elif os.path.islink(source):
                    os.symlink(os.readlink(source), target)
                else:
                    try:
                        os.link(source, target)
                    except OSError:
                        shutil.copy2(source, target)
    return clashes


def _download(wanted, into):
    """Downloads {name: (version, arch, file)} into `into`; False when apt fails."""
    specs = [f"{n}={v}" for n, (v, _, _) in sorted(wanted.items())]
    r = _run(["apt-get", "download", "-q", *_apt_options(), *specs], cwd=into)
    if r.returncode != 0:
        _log("apt-get download failed:\n" + r.stderr.strip())
    return r.returncode == 0


def _rebuild(base, versions):
    packages = os.path.join(base, "packages")
    stems = {n: f[:-4] for n, (_, _, f) in versions.items()}
    fresh = os.path.join(base, "root.new")
    _rmtree(fresh)
    clashes = merge([os.path.join(packages, stems[n]) for n in sorted(stems)], fresh)
    for clash in clashes:
        _log(f"{clash} is in two packages; the first one's is kept")
    with open(os.path.join(fresh, MANIFEST), "w", encoding="utf-8") as f:
        for name in sorted(versions):
            f.write("%s %s %s\n" % (name, versions[name][0], versions[name][1]))
    old = os.path.join(base, "root.old")
    _rmtree(old)
    if os.path.lexists(root()):
        os.rename(root(), old)
    os.rename(fresh, root())
    _rmtree(old)
    for stale in set(os.listdir(packages)) - set(stems.values()):
        _rmtree(os.path.join(packages, stale))


def _fetch_locked(base, update):
    if _complete() and not update:
        return True
    versions = _candidates()
    if versions is None:
        _apt_update()
        versions = _candidates()
    if versions is None:
        return _complete()
    packages = os.path.join(base, "packages")
    os.makedirs(packages, exist_ok=True)
    missing = {n: v for n, v in versions.items()
               if not os.path.isdir(os.path.join(packages, v[2][:-4]))}
    if missing:
        _log(f"fetching {len(missing)} packages into {base}")
        with tempfile.TemporaryDirectory(dir=base, prefix="download.") as into:
            if not _download(missing, into):
                return _complete()
            for name, (_, _, file_name) in sorted(missing.items()):
                unpack(os.path.join(into, file_name), os.path.join(packages, file_name[:-4]))
    current = read_manifest(root())
    if missing or current != {n: (v, a) for n, (v, a, _) in versions.items()}:
        _rebuild(base, versions)
    return True


def fetch(update=False):
    """Makes sure every package is in the cache; returns root(). Exits when it cannot."""
    if _complete() and not update:
        return root()
    base = cache_dir()
    os.makedirs(base, exist_ok=True)
    with open(os.path.join(base, ".lock"), "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not _fetch_locked(base, update):
            sys.exit("text_cache: cannot fetch the packages (see above); no text in " + base)
    return root()


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("command", choices=["fetch", "root"])
    parser.add_argument("--update", action="store_true",
                        help="refetch the packages apt now has in other versions")
    args = parser.parse_args(argv)
    print(fetch(args.update) if args.command == "fetch" else root())
    return 0


if __name__ == "__main__":
    sys.exit(main())
