"""`python -m kestrava_plan` runs the command."""

import sys

from .command import main

# Guarded so that importing the module (as mypy's stubtest does) runs nothing.
if __name__ == "__main__":
    sys.exit(main())
