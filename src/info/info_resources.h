#pragma once

class QIcon;

namespace tvx {

// Registers the help text and the about picture (":/info/...") with the resource system. The
// core library is static, so the linker would otherwise leave them out; safe to call often.
void loadInfoResources();

// The program's icon in every size the desktop icons have, made from the same picture; every
// window carries it once the application has it.
QIcon programIcon();

} // namespace tvx
