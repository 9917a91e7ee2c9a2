"""python -m quorvel_tools: the `quorvel` command."""

import sys

from .cli.main import main

sys.exit(main())
