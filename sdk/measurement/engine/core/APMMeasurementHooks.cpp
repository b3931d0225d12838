// Hooks of the engine that later parts fill in. Each does nothing until its part exists; the part
// that builds one removes it from here and defines it in its own file.
#include "sdk/measurement/engine/APMMeasurement.h"
