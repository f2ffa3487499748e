#!/bin/sh
# netns.sh <command> [<args>...]
# Runs the command in a network namespace of its own, with only the loopback,
# up: what it binds on 127.0.0.1 (the fixed authentication port 52000) meets
# no other program on the machine. A user namespace makes the caller root
# there, which is what bringing the loopback up needs; nothing else changes.
exec unshare --user --map-root-user --net -- sh -c 'ip link set lo up && exec "$@"' netns "$@"
