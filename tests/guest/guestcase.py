"""guestcase: end-to-end scenarios of the 32-bit stub, run in the qemu guest of
scripts/guest (this host's kernel runs no 32-bit code).

A scenario is a test method written as a generator; the end-to-end tests'
scenarios (run under wine by sfxtest.driven) are taken over by name:
test_x = Other.test_y. The part before its yield runs on the host and prepares
files and a program in the scenario's folder; it yields the driver script.
Once every scenario of the class is prepared, one boot of the guest runs all
the scripts with the 32-bit driver under a 32-bit wine; then each test method
goes on from its yield with the DriverRun and checks on the host what the
program showed and wrote:

    class Example(GuestCase):
        def test_shows_the_dialog(self):
            exe = self.sfx(self.zip_infozip(self.tree({"a.txt": b"a"})), title="Demo")
            run = yield f"start {q(exe)}\\nwait-window Demo\\nclose\\nwait-exit"
            self.assertEqual(run.result("wait-exit")["exit_code"], 0)

The share is a new folder build/e2e-work/guest-CLASS-*/, mounted in the guest
at the same path, so host paths (and their Z: forms) name the same files on
both sides; it is removed when every scenario passed. A guest that cannot be
built or booted fails every scenario with the reason.
"""
import functools
import os
import shutil
import subprocess
import sys
import tempfile
import textwrap
import time
from pathlib import Path

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))

import sfxtest  # noqa: E402
from extractcase import ExtractCase  # noqa: E402

# The guest keeps UTC; the stub stamps members' DOS times as local time, so the
# host reads them in the same zone.
os.environ["TZ"] = "UTC"
time.tzset()

GUEST = os.path.join(sfxtest.REPO, "scripts", "guest")
JOB = os.path.join(HERE, "guest-job.sh")
# Waits inside the guest: software emulation is several times slower than wine
# here, and slower still when the host is busy (246 members before a password
# prompt once took longer than 90 s beside two builds).
SCRIPT_PROLOGUE = "timeout 240000\n"


def _scenario(steps_of):
    @functools.wraps(steps_of)
    def test(self):
        cls = type(self)
        if self._testMethodName not in cls._prepared:
            self.fail(cls._guest_problem or "this scenario was not prepared")
        case, steps, error = cls._prepared[self._testMethodName]
        if error is not None:
            raise error
        done = os.path.join(case.dir, "driver.rc")
        if not os.path.exists(done):
            self.fail(cls._guest_problem or f"the guest did not run this scenario, see {cls.share}/guest-job.log")
        out, err, script = (Path(case.dir, name).read_text(encoding="utf-8", errors="replace")
                            for name in ("driver.out", "driver.err", "script.txt"))
        run = sfxtest.driver_run(int(Path(done).read_text().strip() or -1), out, err, script)
        sfxtest.finish_scenario(self, steps, run)
        shutil.rmtree(case.dir, ignore_errors=True)  # kept for a look only when it failed

    test.steps = steps_of
    return test


class GuestCase(ExtractCase):
    """Scenarios that build their programs from the 32-bit stub; a folder per
    scenario (self.dir) with its target folder (self.target) in the share."""

    stub = sfxtest.STUB32
    scenario = staticmethod(_scenario)
    machinery = {"script.txt", "driver.out", "driver.err", "driver.rc"}

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        os.makedirs(sfxtest.WORK, exist_ok=True)
        # A share of its own: two runs at once (ctest by hand beside scripts/test) must not meet.
        cls.share = tempfile.mkdtemp(prefix=f"guest-{cls.__name__}-", dir=sfxtest.WORK)
        cls._prepared = {}
        cls._guest_problem = None
        missing = [p for p in (sfxtest.DRIVER32, sfxtest.STUB32) if not os.path.exists(p)]
        if missing:
            cls._guest_problem = f"{', '.join(missing)} missing: run scripts/build"
            return
        shutil.copy(sfxtest.DRIVER32, os.path.join(cls.share, "uidriver.exe"))
        for name in sorted(n for n in dir(cls) if hasattr(getattr(cls, n), "steps")):
            case = cls(name)
            case.setUp()
            os.makedirs(case.dir)
            steps = getattr(cls, name).steps(case)
            try:
                script = next(steps)
            except Exception as error:  # noqa: BLE001 -- the scenario's test reports it
                cls._prepared[name] = (case, None, error)
                continue
            Path(case.path("script.txt")).write_text(SCRIPT_PROLOGUE + textwrap.dedent(script).strip() + "\n",
                                                     encoding="utf-8")
            cls._prepared[name] = (case, steps, None)
        prepared = [name for name, (_, steps, _) in cls._prepared.items() if steps]
        Path(cls.share, "scenarios").write_text("".join(name + "\n" for name in prepared))
        cls._guest_problem = cls.boot()

    @classmethod
    def boot(cls):
        """Runs the prepared scenarios in one boot; what went wrong, or None."""
        log = os.path.join(cls.share, "guest-run.log")
        started = time.monotonic()
        with open(log, "wb") as out:
            code = subprocess.run([GUEST, "run", cls.share, JOB], stdin=subprocess.DEVNULL, stdout=out,
                                  stderr=subprocess.STDOUT).returncode
        said = Path(log).read_text(encoding="utf-8", errors="replace")
        sys.stderr.write(said)
        job_log = Path(cls.share, "guest-job.log")
        if job_log.exists():
            sys.stderr.write(job_log.read_text(encoding="utf-8", errors="replace"))
        sys.stderr.write(f"guest: boot and scenarios took {time.monotonic() - started:.0f} s\n")
        if code != 0:
            return f"scripts/guest run failed ({code}):\n{said[-3000:]}"
        return None

    @classmethod
    def tearDownClass(cls):
        # A passed scenario removed its folder; the logs of the boot go when all did.
        if not any(os.path.isdir(os.path.join(cls.share, n)) for n in cls._prepared):
            shutil.rmtree(cls.share, ignore_errors=True)
        super().tearDownClass()

    def setUp(self):
        # No wine session on the host: the scenario runs in the guest.
        self.dir = os.path.join(self.share, self._testMethodName)
        self.target = self.path("out")
