#!/usr/bin/env bash
# Prepares the printing service for the printing tests, as root: starts the CUPS scheduler when
# it is not running and creates the queue "tarvix-pdf", whose device is cups-pdf:/ (every job
# becomes a PDF file), as the default destination, and "tarvix-refusing", which refuses
# every job. Installs nothing: the Makefile's test-deps brings cups, cups-client, cups-bsd,
# printer-driver-cups-pdf and poppler-utils.
# Safe to run again: a running scheduler and existing queues are kept.
set -euo pipefail

queue=tarvix-pdf
refusing=tarvix-refusing
# The tests point CUPS_SERVER at nothing; this script talks to the local scheduler.
unset CUPS_SERVER

if [ "$(id -u)" != 0 ]; then
  echo "cups-setup: must run as root" >&2
  exit 1
fi

for tool in cupsd lpstat lpadmin lpinfo cupsenable cupsaccept cupsreject; do
  if ! command -v "$tool" >/dev/null; then
    echo "cups-setup: $tool is missing (packages cups, cups-client, cups-bsd)" >&2
    exit 1
  fi
done

running() { lpstat -r 2>/dev/null | grep -q 'scheduler is running'; }

if ! running; then
  # No service manager in containers: start the scheduler directly (it goes to the background).
  cupsd
  for _ in $(seq 1 100); do
    running && break
    sleep 0.2
  done
  if ! running; then
    echo "cups-setup: the CUPS scheduler did not start" >&2
    exit 1
  fi
fi

model=""
# A queue of cups-pdf, printing where the tests can read the PDFs back.
make_queue() {
  if lpstat -v "$1" 2>/dev/null | grep -q 'cups-pdf:/'; then
    return
  fi
  if [ -z "$model" ]; then
    model=$(lpinfo -m 2>/dev/null | awk '$1 ~ /CUPS-PDF_noopt\.ppd$/ { print $1; exit }')
    [ -n "$model" ] || model=$(lpinfo -m 2>/dev/null | awk '$1 ~ /CUPS-PDF/ { print $1; exit }')
  fi
  if [ -z "$model" ]; then
    echo "cups-setup: no CUPS-PDF driver found (package printer-driver-cups-pdf)" >&2
    exit 1
  fi
  # lpadmin warns that printer drivers are deprecated; the queue works all the same.
  lpadmin -p "$1" -v cups-pdf:/ -m "$model" -E 2>/dev/null
}

make_queue "$queue"
# cups-pdf takes PostScript; the default PDF-to-PostScript renderer (Ghostscript) drops the
# fonts' character mapping, leaving a PDF whose text cannot be read back. Cairo keeps it.
lpadmin -p "$queue" -o pdftops-renderer-default=pdftocairo
lpadmin -d "$queue"
cupsenable "$queue"
cupsaccept "$queue"

# A second queue that refuses every job, for the test of a refusing printing service. It
# stays refusing, so no test has to switch a shared queue back and forth.
make_queue "$refusing"
cupsenable "$refusing"
cupsreject -r "refuses jobs for the printing tests" "$refusing"

echo "cups-setup: queue $queue ready ($refusing refuses jobs), the scheduler is running"
