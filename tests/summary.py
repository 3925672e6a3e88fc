"""Prints one line for CI: how many test cases passed and failed in all trees.

A GoogleTest program counts each of its cases (from its XML report); any other
CTest test, or a test program that died before writing its report, counts as one.
"""
import os
import sys
import xml.etree.ElementTree as ET


def gtest_counts(path):
    root = ET.parse(path).getroot()
    total = int(root.get("tests", 0))
    failed = int(root.get("failures", 0)) + int(root.get("errors", 0))
    skipped = int(root.get("disabled", 0)) + int(root.get("skipped", 0))
    return total - failed - skipped, failed


def main(trees):
    passed = failed = 0
    for tree in trees:
        ctest_xml = os.path.join(tree, "ctest.xml")
        if not os.path.exists(ctest_xml):
            print(f"{tree}: no test report", file=sys.stderr)
            failed += 1
            continue
        for case in ET.parse(ctest_xml).getroot().iter("testcase"):
            name = case.get("name")
            status = case.get("status", "run")
            ok = case.find("failure") is None and case.find("error") is None and status != "fail"
            report = os.path.join(tree, "test-results", f"{name}.xml")
            if os.path.exists(report):
                p, f = gtest_counts(report)
                if not ok and f == 0:
                    f = 1  # crashed after writing a report, or leaked under a sanitizer
                passed += p
                failed += f
            elif ok:
                passed += 1
            else:
                failed += 1
    print(f"{passed} passed, {failed} failed")
    return 0 if failed == 0 else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
