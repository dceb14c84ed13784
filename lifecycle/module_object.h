// Module-level objects carry their name, so that a build with
// TALVERON_TRACE_LIFECYCLE can log when each one is built and destroyed, to
// LIFECYCLE.TXT in the current directory. The shipped module is built
// without it: then the names are dropped and nothing is logged.
#ifndef TALVERON_LIFECYCLE_MODULE_OBJECT_H
#define TALVERON_LIFECYCLE_MODULE_OBJECT_H

#include "framework/cstring.h"

#ifdef TALVERON_TRACE_LIFECYCLE

// Appends "<event> <name>" as one line to LIFECYCLE.TXT.
void TraceLifecycle(const char* event, const char* name);
#define LIFECYCLE_TRACE(event, name) TraceLifecycle(event, name)

class ModuleString : public CString {
public:
    explicit ModuleString(const char* name) : m_name(name) { TraceLifecycle("+", name); }
    ~ModuleString() { TraceLifecycle("-", m_name); }
    ModuleString& operator=(const ModuleString& other) {
        CString::operator=(other);
        return *this;
    }
    using CString::operator=;

private:
    const char* m_name;
};

#else

#define LIFECYCLE_TRACE(event, name) ((void)sizeof((event), (name)))

class ModuleString : public CString {
public:
    explicit ModuleString(const char*) noexcept {}
    using CString::operator=;
};

#endif

#endif
