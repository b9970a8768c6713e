#include "core/errors.h"

// The exception classes are header-only; this unit anchors the library so that a layer
// with no other sources still links.
namespace core {}
