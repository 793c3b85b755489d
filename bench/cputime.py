#!/usr/bin/env python3
# Runs a command (its output discarded) and prints its processor time (user + system, with every
# process it started) and its wall time, in seconds to the microsecond: /usr/bin/time rounds to
# 10 ms, too coarse for an import that takes a tenth of a second. Exits with the command's status.
#   bench/cputime.py CMD [ARG...]
import resource
import subprocess
import sys
import time

before = resource.getrusage(resource.RUSAGE_CHILDREN)
start = time.monotonic()
status = subprocess.call(sys.argv[1:], stdout=subprocess.DEVNULL)
wall = time.monotonic() - start
after = resource.getrusage(resource.RUSAGE_CHILDREN)
cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
print(f"{cpu:.6f} {wall:.6f}")
sys.exit(status)
