#!/bin/sh
# netns.sh <command> [<args>...]
# Runs the command in a network namespace of its own, with only the loopback,
# up: what it binds on 127.0.0.1 (the fixed authentication port 52000) meets
# no other program on the machine. A user namespace makes the caller root
# there, which is what bringing the loopback up needs; nothing else changes.
#
# 52000 lies in the ephemeral range, so a client that connects to it while
# nothing listens there yet may be given it as its own port and be connected
# to itself, and its close would hold the port for a minute. Reserved, it is
# never handed out to a client. Where the kernel does not let the namespace
# reserve it, the test clients' own refusal of a connection to themselves
# (tests/support/loopback.hpp) is what remains.
exec unshare --user --map-root-user --net -- sh -c '
ip link set lo up || exit
echo 52000 2>/dev/null >/proc/sys/net/ipv4/ip_local_reserved_ports
exec "$@"' netns "$@"
