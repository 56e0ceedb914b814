"""Record types of the host package."""
