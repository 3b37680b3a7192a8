"""`python -m morvex_convert`, the same as the morvex-convert command."""

import sys

from morvex_convert.cli import main

# Guarded: worker processes started by forkserver or spawn import the main module again.
if __name__ == "__main__":
    sys.exit(main())
