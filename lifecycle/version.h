/* The module's version and description: the one place that declares them,
   read by the version resource (version.rc) and by the module's code. */
#ifndef TALVERON_LIFECYCLE_VERSION_H
#define TALVERON_LIFECYCLE_VERSION_H

#define TALVERON_VERSION_MAJOR 1
#define TALVERON_VERSION_MINOR 0
#define TALVERON_VERSION_PATCH 0
#define TALVERON_VERSION_BUILD 1

#define TALVERON_STRINGIZE_(x) #x
#define TALVERON_STRINGIZE(x) TALVERON_STRINGIZE_(x)

/* 1,0,0,1 for the fixed part; "1, 0, 0, 1" for the string entries. */
#define TALVERON_VERSION_COMMAS \
    TALVERON_VERSION_MAJOR, TALVERON_VERSION_MINOR, TALVERON_VERSION_PATCH, TALVERON_VERSION_BUILD
#define TALVERON_VERSION_TEXT                                                          \
    TALVERON_STRINGIZE(TALVERON_VERSION_MAJOR) ", " TALVERON_STRINGIZE(TALVERON_VERSION_MINOR) ", " \
    TALVERON_STRINGIZE(TALVERON_VERSION_PATCH) ", " TALVERON_STRINGIZE(TALVERON_VERSION_BUILD)

/* Kept in the module's read-only data; nothing reads it. */
#define TALVERON_DESCRIPTION "TALVERON Windows Dynamic Link Library"

#endif
