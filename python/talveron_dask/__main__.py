"""python3 -m talveron_dask"""
import sys

from talveron_dask.run import main

if __name__ == "__main__":
    sys.exit(main())
