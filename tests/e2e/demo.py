"""The demo run by scripts/demo: packs examples/hello into a self-extracting
program with sfxmake, runs it under wine through the UI driver, and tells
what the program showed and did. Runs inside a wine session (tests/wine-env.sh).

The driver script goes on after a step that fails (on-error continue), so the
demo shows how far the program got, whatever it can already do."""
import os
import shutil
import subprocess
import sys

import sfxtest
from sfxtest import ID_FILE_LIST, ID_FOLDER, q

TITLE = "Hello from sfxkit"


def say(text=""):
    print(text, flush=True)


def main():
    problem = sfxtest.require_session()
    if problem:
        say("demo: " + problem)
        return 1
    example = os.path.join(sfxtest.REPO, "examples", "hello")
    work = os.path.join(sfxtest.BUILD, "demo")
    shutil.rmtree(work, ignore_errors=True)
    target = os.path.join(work, "unpacked")
    os.makedirs(work)
    exe = os.path.join(work, "hello.exe")

    subprocess.run([sfxtest.SFXMAKE, "build", "-q", "--stub", sfxtest.STUB64, "-o", exe, "--title", TITLE,
                    "--folder", sfxtest.windows_path(target), example], check=True)
    files = sfxtest.read_tree(example)
    say(f"demo: packed {os.path.relpath(example, sfxtest.REPO)}/ ({len(files)} files) with sfxmake "
        f"into {os.path.relpath(exe, sfxtest.REPO)} ({os.path.getsize(exe)} bytes)")
    say(f"demo: running it under wine (display {os.environ.get('DISPLAY')}) through the UI driver")

    run = sfxtest.drive(f"""
        on-error continue
        timeout 15000
        start {q(exe)}
        wait-window *
        screenshot {q(os.path.join(work, "dialog.bmp"))}
        text {ID_FOLDER}
        rows {ID_FILE_LIST}
        press id=1
        wait-msgbox
        press OK
        wait-exit
    """, cwd=work)

    def result(cmd):
        """The first result of cmd that did not fail, or None."""
        return next((r for r in run.results(cmd) if "error" not in r), None)

    window = result("wait-window")
    if window is None:
        say("  the program showed no window")
    else:
        say(f"  window: \"{window['caption']}\"")
        if os.path.exists(os.path.join(work, "dialog.bmp")):
            png = sfxtest.bmp_to_png(os.path.join(work, "dialog.bmp"), os.path.join(work, "dialog.png"))
            say(f"  screenshot: {os.path.relpath(png, sfxtest.REPO)}")
    if folder := result("text"):
        say(f"  folder box: {folder['text']}")
    if rows := result("rows"):
        say(f"  file list ({len(rows['rows'])} rows; columns {', '.join(rows['columns']) or 'none'}):")
        for row in rows["rows"]:
            say("    " + "  ".join(cell.ljust(24) for cell in row["cells"]).rstrip())
    if press := result("press"):
        say(f"  pressed \"{press.get('text', '').replace('&', '')}\"")
    for box in run.results("wait-msgbox"):
        if "error" not in box:
            say(f"  message box \"{box['caption']}\": {box['text']}")
    if exit_line := result("wait-exit"):
        say(f"  the program ended with exit code {exit_line['exit_code']}")

    if os.path.isdir(target):
        unpacked = sfxtest.read_tree(target)
        say(f"demo: unpacked into {os.path.relpath(target, sfxtest.REPO)}/:")
        for name in sorted(unpacked):
            same = "" if unpacked[name] == files.get(name) else "  (differs from the original!)"
            say(f"    {name:28} {len(unpacked[name]):6} bytes{same}")
        missing = sorted(set(files) - set(unpacked))
        if missing:
            say("    missing: " + ", ".join(missing))
    else:
        failed = [r for r in run.lines if "error" in r]
        say("demo: nothing was unpacked; the program got as far as shown above.")
        if failed:
            say(f"      (first step it did not get to: {failed[0]['cmd']}: {failed[0]['error']})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
