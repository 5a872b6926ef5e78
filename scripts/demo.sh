#!/usr/bin/env bash
# Runs the updater against the demo update server on 127.0.0.1:8471.
echo "demo: not yet available (the updater is still being built)"
