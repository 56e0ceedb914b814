"""Model providers of the host package, each imported only when used."""
