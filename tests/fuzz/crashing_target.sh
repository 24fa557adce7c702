#!/bin/sh
# Stands in for a fuzz target that crashes with its work folder still there.
mkdir -p "$TMPDIR/torvane-fuzz-crash" && echo input > "$TMPDIR/torvane-fuzz-crash/input"
kill -ABRT $$
