"""`python -m abyx_tools`: the `abyx` command line."""

import sys

from abyx_tools.cli import main

sys.exit(main())
