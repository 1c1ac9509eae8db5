"""`python -m kestrava_plan` runs the command."""

import sys

from .command import main

sys.exit(main())
