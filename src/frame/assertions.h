// The library's own assertion: preconditions of the host are checked in
// every build type, whatever NDEBUG says.
#ifndef CORVANE_FRAME_ASSERTIONS_H
#define CORVANE_FRAME_ASSERTIONS_H

#include <assert.h>

// The report names the library ("src/Corvane") rather than the file the
// check lives in, so hosts see one stable name whatever the source layout.
#define CORVANE_ASSERT(expr)                                                           \
    ((expr) ? static_cast<void>(0)                                                     \
            : __assert_fail(#expr, "src/Corvane", static_cast<unsigned int>(__LINE__), \
                            __PRETTY_FUNCTION__))

#endif
