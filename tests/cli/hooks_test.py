#!/usr/bin/env python3
"""The commit hooks as a user runs them, offline: the repository's .pre-commit-hooks.yaml under
the packaged pre-commit, and the plain git hook of data/git-pre-commit. A staged GBK file
refuses the commit, named; after the fixing hook (or the fix command) the commit passes.
Usage: hooks_test.py PATH_TO_OUZEL_CONVERT SOURCE_DIR"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BIN = ""
SRC = ""
NAME = "中文 名字.cpp"
TEXT = "// 字符编码转换工具，中文注释。\nint main() { return 0; }\n"


class Hooks(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="ouzel-hooks-")
        self.env = dict(os.environ)
        self.env.update(PATH=os.path.dirname(BIN) + os.pathsep + os.environ.get("PATH", ""),
                        PRE_COMMIT_HOME=os.path.join(self.tmp, "cache"),
                        HOME=self.tmp, GIT_CONFIG_NOSYSTEM="1",
                        GIT_AUTHOR_NAME="t", GIT_AUTHOR_EMAIL="t@example.org",
                        GIT_COMMITTER_NAME="t", GIT_COMMITTER_EMAIL="t@example.org")

    def tearDown(self):
        shutil.rmtree(self.tmp, ignore_errors=True)

    def run_in(self, repo, *args):
        return subprocess.run(list(args), cwd=repo, env=self.env, capture_output=True,
                              timeout=300)

    def git(self, repo, *args):
        r = self.run_in(repo, "git", *args)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout.decode().strip()

    def work_repo(self):
        """A repository with a GBK and a UTF-8 source staged."""
        repo = os.path.join(self.tmp, "work")
        os.makedirs(repo)
        self.git(repo, "init", "-q")
        with open(os.path.join(repo, NAME), "wb") as f:
            f.write(TEXT.encode("gbk"))
        with open(os.path.join(repo, "ok.h"), "wb") as f:
            f.write(TEXT.encode("utf-8"))
        return repo

    def commit_refused_then_passes(self, repo, fix):
        self.git(repo, "add", "-A")
        r = self.run_in(repo, "git", "commit", "-q", "-m", "sources")
        out = (r.stdout + r.stderr).decode("utf-8", "replace")
        self.assertNotEqual(r.returncode, 0, out)
        self.assertIn(NAME, out)
        self.assertEqual(self.run_in(repo, "git", "rev-parse", "-q", "--verify", "HEAD").returncode,
                         1)
        fix()
        self.git(repo, "add", "-A")
        r = self.run_in(repo, "git", "commit", "-q", "-m", "sources")
        self.assertEqual(r.returncode, 0, (r.stdout + r.stderr).decode("utf-8", "replace"))
        committed = self.run_in(repo, "git", "show", "HEAD:" + NAME).stdout
        self.assertEqual(committed, TEXT.encode("utf-8"))

    # The framework clones the hooks from a repository holding this .pre-commit-hooks.yaml
    # (a local path: no network), runs the check at commit and the fix by hand.
    def test_pre_commit_framework(self):
        hooks = os.path.join(self.tmp, "hooks")
        os.makedirs(hooks)
        shutil.copy(os.path.join(SRC, ".pre-commit-hooks.yaml"), hooks)
        self.git(hooks, "init", "-q")
        self.git(hooks, "add", "-A")
        self.git(hooks, "commit", "-q", "-m", "hooks")
        rev = self.git(hooks, "rev-parse", "HEAD")
        repo = self.work_repo()
        with open(os.path.join(repo, ".pre-commit-config.yaml"), "w") as f:
            f.write("repos:\n- repo: %s\n  rev: %s\n  hooks:\n  - id: ouzel-check\n"
                    "  - id: ouzel-fix\n    stages: [manual]\n" % (hooks, rev))
        self.git(repo, "add", ".pre-commit-config.yaml")
        r = self.run_in(repo, "pre-commit", "install")
        self.assertEqual(r.returncode, 0, r.stderr)

        def fix():
            r = self.run_in(repo, "pre-commit", "run", "--hook-stage", "manual", "ouzel-fix",
                            "--files", NAME, "ok.h")
            self.assertEqual(r.returncode, 1, r.stdout)  # files were modified
            self.assertIn(b"files were modified by this hook", r.stdout)

        self.commit_refused_then_passes(repo, fix)

    # The plain hook, copied into .git/hooks as the README says.
    def test_plain_git_hook(self):
        repo = self.work_repo()
        hook = os.path.join(repo, ".git", "hooks", "pre-commit")
        shutil.copy(os.path.join(SRC, "data", "git-pre-commit"), hook)
        os.chmod(hook, 0o755)

        def fix():
            r = self.run_in(repo, BIN, "--in-place", "--detect", "--to", "UTF-8", NAME, "ok.h")
            self.assertEqual(r.returncode, 0, r.stderr)

        self.commit_refused_then_passes(repo, fix)


if __name__ == "__main__":
    SRC = os.path.abspath(sys.argv.pop(2))
    BIN = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=2)
