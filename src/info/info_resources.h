#pragma once

namespace tvx {

// Registers the help text and the about picture (":/info/...") with the resource system. The
// core library is static, so the linker would otherwise leave them out; safe to call often.
void loadInfoResources();

} // namespace tvx
