#pragma once

#include "platform/serial/serial_port.h"

#include <QString>

#include <optional>

namespace tvx {

// What a user is told about the serial port behind a port number.
namespace portdescription {

// The device's description as the system gives it, or the kind of port when it gives none;
// followed by "(set by TARVIX_COM<n>)" when an environment variable chose the device.
QString describe(const PortMap::Entry &entry);

// The tooltip of a "Comport n" option: the device and its description, or that no serial port
// stands behind the number; when the last opening of the port failed, the reason and what to
// do about it; and why no lock file can be written, when none can.
QString hint(const std::optional<PortMap::Entry> &entry,
             const std::optional<SerialControl::OpenFailure> &lastFailure,
             const QString &lockNote = QString());

// The mapping as tarvix --ports prints it: one line for each number worth listing, with the
// device and its description; then why no lock file can be written, when none can.
QString listing(const PortMap &map, const QString &lockNote = QString());

} // namespace portdescription
} // namespace tvx
