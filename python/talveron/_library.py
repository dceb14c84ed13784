"""Where libtalveron.so.1 is: the build and the install write this file
again with its path (relative to this folder when installed). None: the
dynamic loader finds it (installed in a system folder, or LD_LIBRARY_PATH)."""
PATH = None
