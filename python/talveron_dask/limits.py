"""The module's fixed capacities, by the names its header (talveron.h)
gives them; a test holds the two together."""
TALVERON_KEYWORD_SLOTS = 6
TALVERON_KEYWORD_LINE_MAX = 255
TALVERON_ADDRESS_MAX = 499
