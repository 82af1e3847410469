#!/bin/sh
# Installs the demo runtime: a marker file whose presence tells the launcher it is there.
set -e
mkdir -p /usr/lib/tarvenox-demo-runtime
date -u +%Y-%m-%dT%H:%M:%S > /usr/lib/tarvenox-demo-runtime/installed
