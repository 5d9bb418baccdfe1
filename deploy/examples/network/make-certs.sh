#!/bin/sh
# Makes, in the current folder, a private certificate authority and two
# certificates it signs: the agent's, for the names Prometheus reaches it
# by, and a client certificate for Prometheus. Keys are readable by their
# owner only.
# Usage: make-certs.sh AGENT_NAME...   (DNS names or IP addresses)
set -eu
[ $# -gt 0 ] || { echo "usage: $0 AGENT_NAME..." >&2; exit 2; }
sans=
for name in "$@"; do
  case $name in
    *:*) type=IP ;;          # an IPv6 address
    *[!0-9.]*) type=DNS ;;
    *) type=IP ;;            # an IPv4 address
  esac
  sans="${sans:+$sans,}$type:$name"
done
umask 077
key="-newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes"

# The authority (ca.key stays here; ca.crt goes to Prometheus).
openssl req -x509 $key -days 825 -subj "/CN=zepagent example CA" \
  -keyout ca.key -out ca.crt 2>/dev/null

# The agent's certificate and key (agent.crt, agent.key).
openssl req $key -subj "/CN=$1" -keyout agent.key -out agent.csr 2>/dev/null
printf 'subjectAltName=%s\nextendedKeyUsage=serverAuth\n' "$sans" > agent.ext
openssl x509 -req -in agent.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 825 \
  -extfile agent.ext -out agent.crt 2>/dev/null

# Prometheus's client certificate and key (prometheus.crt, prometheus.key).
openssl req $key -subj "/CN=prometheus" -keyout prometheus.key -out prometheus.csr 2>/dev/null
printf 'subjectAltName=DNS:prometheus\nextendedKeyUsage=clientAuth\n' > prometheus.ext
openssl x509 -req -in prometheus.csr -CA ca.crt -CAkey ca.key -CAcreateserial -days 825 \
  -extfile prometheus.ext -out prometheus.crt 2>/dev/null

rm -f agent.csr agent.ext prometheus.csr prometheus.ext ca.srl
echo "made ca.crt, agent.crt, agent.key, prometheus.crt, prometheus.key for $sans"
