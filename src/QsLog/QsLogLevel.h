#pragma once

namespace QsLogging {

// A fixed underlying type makes any int a representable level, so a stray value reaches the
// "bad log level" check instead of being undefined behaviour.
enum Level : int
{
    TraceLevel = 0,
    DebugLevel,
    InfoLevel,
    WarnLevel,
    ErrorLevel,
    FatalLevel,
    OffLevel
};

} // namespace QsLogging
