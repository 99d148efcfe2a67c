#!/usr/bin/env python3
"""Counts GoogleTest XML results in a folder: prints 'N passed, N failed'."""
import glob
import os
import sys
import xml.etree.ElementTree as ET

passed = failed = 0
for path in glob.glob(os.path.join(sys.argv[1], "*.xml")):
    try:
        root = ET.parse(path).getroot()
    except ET.ParseError:
        failed += 1
        continue
    for case in root.iter("testcase"):
        if case.get("result", "completed") == "skipped" or case.get("status") == "notrun":
            continue
        if case.find("failure") is not None or case.find("error") is not None:
            failed += 1
        else:
            passed += 1
print(f"{passed} passed, {failed} failed")
