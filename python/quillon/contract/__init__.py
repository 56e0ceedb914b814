"""Contract verification: the checker and the per-country registries."""
