#pragma once
// Test-only entry points: replace the builder and start the once-only logger state afresh. Only tests include this.
#include "foundation/logging/LogBuilder.h"

namespace ETWLogging::testing {

// Takes ownership; the builder is used by the next creation.
void SetLogBuilder(CLogBuilderIf* builder);
// Runs the exit-time clean-ups now (stream, holder, logger, builder) and restores the initial identity, so the next
// log call creates the logger again (with the default builder unless SetLogBuilder is called after the reset).
void ResetLoggerForTesting();
// Destroys the log stream so that the next stream line builds it again (bound to the logger current then).
void ReleaseLogStreamForTesting();

}  // namespace ETWLogging::testing
