"""python -m velkan: the command line (see velkan.cli)."""

import sys

from velkan.cli import main

if __name__ == "__main__":
    sys.exit(main())
