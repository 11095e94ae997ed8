#!/usr/bin/env python3
"""mkupdate's answers as JSON, read back as JSON: list, verify and plan of a real updater, plan's prediction
against what the real updater then leaves in the installation, and the refusals of bad input.
    mkupdate_json_test.py BUILD_DIR"""
import json
import os
import shutil
import subprocess
import sys

import wine_tool

build = sys.argv[1]
drive = os.path.join(build, "wineprefix", "drive_c")
failures = []


def run(*args):
    code, out, err = wine_tool.run([os.path.join(build, "wine-run")] + list(args))
    return code, out.decode("utf-8").replace("\r", ""), err.decode("utf-8").replace("\r", "")


def mkupdate(*args):
    return run(os.path.join(build, "mkupdate.exe"), *args)


def check(condition, what):
    if not condition:
        failures.append(what)


def document(output):
    return json.loads(output)  # exactly one JSON document, nothing else on standard output


def read(path):
    with open(os.path.join(drive, path), "rb") as f:
        return f.read()


try:
    run(os.path.join(build, "tests", "user_driver.exe"), "prepare", "C:\\jsontest")
    image = run("winepath", "-w", os.path.join(build, "updater.exe"))[1].strip()
    code, _, err = mkupdate("build", "--quiet", "--image", image, "--title", "JSON Test Updater",
                            "--files", "C:\\jsontest\\ship", "--output", "C:\\jsontest\\update.exe")
    check(code == 0, "build: " + err)

    code, out, _ = mkupdate("list", "C:\\jsontest\\update.exe", "--json")
    listed = document(out)
    check(code == 0 and listed["verdict"] == "accepted" and listed["problem"] is None, "list verdict")
    check(listed["title"] == "JSON Test Updater" and listed["certificate"] is False, "list title, certificate")
    check([e["name"] for e in listed["entries"]] == ["KPX.hvl", "data01200.arc", "data01300.arc", "data01510.arc"],
          "list entries")
    check(listed["size"] == os.path.getsize(os.path.join(drive, "jsontest", "update.exe")), "list size")
    records = listed["version_list"]["records"]
    check([r["name"] for r in records] == ["Archive\\data01200.arc", "Archive\\data01300.arc", "Archive\\data01510.arc"]
          and all(len(r["checksum"]) == 16 for r in records), "list records")

    code, out, _ = mkupdate("verify", "C:\\jsontest\\update.exe", "--json")
    check(code == 0 and document(out)["verdict"] == "accepted" and document(out)["entries"] == 4, "verify")
    damaged = bytearray(read("jsontest/update.exe"))
    damaged[-1] ^= 0xFF  # the last archive's last byte
    with open(os.path.join(drive, "jsontest", "damaged.exe"), "wb") as f:
        f.write(damaged)
    code, out, err = mkupdate("verify", "C:\\jsontest\\damaged.exe", "--json")
    refused = document(out)
    check(code == 1 and refused["verdict"] == "refused" and "data01510.arc" in refused["problem"], "verify refusal")
    code, out, _ = mkupdate("plan", "C:\\jsontest\\damaged.exe", "--game", "C:\\jsontest\\game", "--json")
    check(code == 1 and document(out)["problem"] == refused["problem"], "plan names verify's first problem")

    # The prediction, then the real run: every target's bytes and both lists byte for byte.
    before = {n: read("jsontest/game/" + n) for n in ("kpx.hvl", "uninst.lst")}
    code, out, _ = mkupdate("plan", "C:\\jsontest\\update.exe", "--game", "C:\\jsontest\\game", "--json")
    plan = document(out)
    check(code == 0 and plan["result"] == 0, "plan result")
    check({t["target"]: t["action"] for t in plan["targets"]} ==
          {"Archive\\data01200.arc": "replace", "Archive\\data01300.arc": "replace", "Archive\\data01510.arc": "add"},
          "plan actions")
    check(before == {n: read("jsontest/game/" + n) for n in ("kpx.hvl", "uninst.lst")}, "plan wrote nothing")
    code, out, _ = run(os.path.join(build, "tests", "user_driver.exe"), "run", "C:\\jsontest\\update.exe",
                       "C:\\jsontest\\game")
    check("exit code: 0 " in out, "the real run: " + out)
    check(read("jsontest/game/kpx.hvl") == bytes.fromhex(plan["version_list"]["bytes"]), "predicted kpx.hvl")
    check(read("jsontest/game/uninst.lst") == bytes.fromhex(plan["uninstall_list"]["bytes"]), "predicted uninst.lst")
    for t in plan["targets"]:
        installed = read("jsontest/game/" + t["target"].replace("\\", "/"))
        check(installed == read("jsontest/ship/" + t["target"].replace("\\", "/")) and len(installed) == t["new"]["size"],
              "the installed bytes of " + t["target"])
    # Run again over what the first run left: every target is already identical.
    code, out, _ = mkupdate("plan", "C:\\jsontest\\update.exe", "--game", "C:\\jsontest\\game", "--json")
    check(all(t["action"] == "identical" for t in document(out)["targets"]), "plan after the run")

    # Bad input: one line naming the problem, the exit code, and no document.
    os.makedirs(os.path.join(drive, "jsontest", "empty"), exist_ok=True)
    for args, expected, what in [
            (("list", "C:\\jsontest\\missing.exe"), 2, "a missing file"),
            (("plan", "C:\\jsontest\\missing.exe", "--game", "C:\\jsontest\\game"), 2, "a missing updater"),
            (("plan", "C:\\jsontest\\update.exe", "--game", "C:\\jsontest\\nowhere"), 2, "a missing folder"),
            (("plan", "C:\\jsontest\\update.exe", "--game", "C:\\jsontest\\empty"), 2, "not an installation"),
            (("plan", "C:\\jsontest\\update.exe", "--frobnicate"), 2, "an unknown option"),
            (("verify", "C:\\jsontest\\game\\kpx.hvl"), 1, "not an updater")]:
        code, out, err = mkupdate(*args)
        check(code == expected and err.startswith("mkupdate: ") and out == "", "%s: %d %r" % (what, code, err))
finally:
    shutil.rmtree(os.path.join(drive, "jsontest"), ignore_errors=True)

failures += wine_tool.failures()
for f in failures:
    print("FAILED: " + f)
print("mkupdate json: %d passed, %d failed" % (1 if not failures else 0, 1 if failures else 0))
sys.exit(1 if failures else 0)
