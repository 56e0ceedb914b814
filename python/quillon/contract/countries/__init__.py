"""Country adapters: company identifiers and registries per country."""
