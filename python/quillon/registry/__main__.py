"""``python -m quillon.registry``: the registry's commands (``quillon.registry.command_line``)."""

import sys

from quillon.registry.command_line import main

if __name__ == "__main__":
    sys.exit(main())
